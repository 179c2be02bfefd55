// Building assistants: the definition text of a setting "AssistantN" ("name|title|form|form..."), the pages
// read from the form resources of a module ("TRV" + page name in upper case), the factory the settings use
// to hand out assistants by name, and writing what the user entered into a bug report.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crash/core/settings.h"
#include "crash/ui/assistant_model.h"

namespace rvx {

class IRVException;
class IRVFields;

struct AssistantDefinition {
  std::string name;
  std::string title;
  std::vector<std::string> forms;
};
// None when the text has no name.
std::optional<AssistantDefinition> ParseAssistantDefinition(std::string_view text);

// A page from its description bytes (data without the "TPF0" signature gives the three buttons only).
// Reading it fires nothing; the builder below fires "created".
Ref<TNVForm> ReadForm(std::string_view description);

// The resource name of a page: "TRV" + the page name in upper case.
std::string FormResourceName(std::string_view formName);

// Where a module's pages are looked up first (a language resource module registered for it); 0 or the
// module itself means no separate resource module.
using ResourceInstanceLookup = ModuleHandle (*)(ModuleHandle module);
void SetResourceInstanceLookup(ResourceInstanceLookup lookup);

// Builds an assistant with its pages read from the module's resources (from the resource module when the
// first page is found there, else from the module itself). Every page gets its step, the title and the
// exception record, then fires "created".
Ref<TNVAssistant> BuildAssistant(ModuleHandle module, std::string_view title, const std::vector<std::string>& forms,
                                 Ref<IRVSettings> owner);

// Registers the engine with the settings, so that assistant by name builds assistants.
void InstallAssistantEngine();

// What the user entered, into the report: for every page closed with Continue, every edit with an output
// name and a text (own section only for a multi-line edit that asks for one, else a header item) and every
// check box with an output name ("yes" or "no"), each written with set-content.
void PutAssistantIntoReport(TNVAssistant& assistant, IRVFields& header, IRVFields& sections);
void PutAssistantIntoReport(TNVAssistant& assistant, IRVException& record);

}  // namespace rvx
