// Building assistants from their definitions and page resources, and putting their entries into reports.
#include "crash/ui/assistant_build.h"

#include <atomic>

#include "crash/core/exception_record.h"
#include "crash/delivery/fields.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {
std::atomic<ResourceInstanceLookup> g_resourceLookup{nullptr};

Ref<INVAssistant> Factory(const AssistantRequest& request) {
  Ref<IRVSettings> owner(request.settings);
  return Ref<INVAssistant>(BuildAssistant(request.module, request.title, request.forms, owner).get());
}
}  // namespace

std::optional<AssistantDefinition> ParseAssistantDefinition(std::string_view text) {
  AssistantDefinition d;
  d.name = FieldOf(text, 1, '|');
  if (d.name.empty()) return std::nullopt;
  d.title = FieldOf(text, 2, '|');
  for (int i = 3, n = FieldCount(text, '|'); i <= n; ++i) d.forms.push_back(FieldOf(text, i, '|'));
  return d;
}

Ref<TNVForm> ReadForm(std::string_view description) {
  Ref<TNVForm> form(new TNVForm);
  form->ReadDescription(description);
  return form;
}

std::string FormResourceName(std::string_view formName) { return "TRV" + UpperText(formName); }

void SetResourceInstanceLookup(ResourceInstanceLookup lookup) { g_resourceLookup.store(lookup); }

Ref<TNVAssistant> BuildAssistant(ModuleHandle module, std::string_view title, const std::vector<std::string>& forms,
                                 Ref<IRVSettings> owner) {
  Ref<TNVAssistant> assistant(new TNVAssistant(std::string(title), std::move(owner)));
  ModuleHandle source = module;
  if (ResourceInstanceLookup lookup = g_resourceLookup.load()) {
    ModuleHandle instance = lookup(module);
    std::string probe;
    if (instance && instance != module && !forms.empty() &&
        ReadModuleRcData(instance, FormResourceName(forms.front()), probe))
      source = instance;
  }
  for (const std::string& name : forms) {
    std::string data;
    if (!ReadModuleRcData(source, FormResourceName(name), data)) data.clear();
    assistant->AddForm(ReadForm(data));
  }
  assistant->SetSteps();
  for (int i = 0; i < assistant->FormCount(); ++i) {
    Ref<TNVForm> form = assistant->Form(i);
    form->Fire(nvaCreated, nullptr);
  }
  return assistant;
}

void InstallAssistantEngine() { SetAssistantFactory(Factory); }

// ---- into the report ----------------------------------------------------------------------------------

void PutAssistantIntoReport(TNVAssistant& assistant, IRVFields& header, IRVFields& sections) {
  for (int f = 0; f < assistant.FormCount(); ++f) {
    Ref<TNVForm> form = assistant.Form(f);
    if (form->ModalResult() != nvmrContinue) continue;
    for (const Ref<TNVItem>& item : form->Items()) {
      if (item->Kind() == NVItemKind::Edit) {
        auto& edit = static_cast<TNVEdit&>(*item);
        std::string name = edit.OutputName(), text = edit.Text();
        if (name.empty() || text.empty()) continue;
        if (edit.OutputType() == nvoOwnSection && edit.MultiLine()) sections.SetContent(name, text);
        else header.SetContent(name, text);
      } else if (item->Kind() == NVItemKind::CheckBox) {
        auto& box = static_cast<TNVCheckBox&>(*item);
        std::string name = box.OutputName();
        if (!name.empty()) header.SetContent(name, box.Checked() ? "yes" : "no");
      }
    }
  }
}

void TNVAssistant::PutIntoReport(IRVFields& header, IRVFields& sections) {
  PutAssistantIntoReport(*this, header, sections);
}

void PutAssistantIntoReport(TNVAssistant& assistant, IRVException& record) {
  Ref<IRVFields> header = record.BugReportHeader(), sections = record.BugReportSections();
  if (header && sections) PutAssistantIntoReport(assistant, *header, *sections);
}

}  // namespace rvx
