// Assistant page descriptions from arbitrary bytes. The bytes are copied to an allocation of their exact
// size, so any read past the end is caught. A page that was read is laid out, checked, walked by the focus
// order, clicked item by item and written into report lists: none of it may fault.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crash/delivery/fields.h"
#include "crash/ui/assistant_build.h"
#include "crash/ui/assistant_layout.h"

namespace {

class FixedSizes final : public rvx::INVTextMeasure {
 public:
  rvx::NVTextSize Measure(rvx::NVFont, std::string_view text) override {
    return {static_cast<int>(text.size()) * 6, 13};
  }
  rvx::NVTextSize MeasureWrapped(rvx::NVFont, std::string_view text, int width) override {
    int w = static_cast<int>(text.size()) * 6;
    int lines = width > 0 ? w / width + 1 : 1;
    return {w < width ? w : width, 13 * lines};
  }
};

void Quiet(const std::string&) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rvx;
  SetAssistantMessageHook(Quiet);
  std::vector<char> copy(data, data + size);
  Ref<TNVForm> form = ReadForm(std::string_view(copy.data(), copy.size()));
  if (form->ItemCount() < 3) std::abort();
  FixedSizes measure;
  NVFormLayout layout = LayoutForm(*form, measure, NVMetrics{});
  if (layout.width < 315) std::abort();
  form->ContinueCheck();
  TNVItem* item = form->FirstFocus();
  for (int i = 0; item && i < form->ItemCount() + 1; ++i) item = form->FocusTarget(item, (i & 1) == 0);

  Ref<TNVAssistant> assistant(new TNVAssistant("fuzz", nullptr));
  assistant->AddForm(form);
  assistant->SetSteps();
  for (int i = form->ItemCount() - 1; i >= 0; --i) form->Click(*form->ItemAt(i));
  Ref<IRVFields> header = CreateFields(), sections = CreateFields();
  Query<IRVFieldsEx>(header)->AcceptData();
  Query<IRVFieldsEx>(sections)->AcceptData();
  PutAssistantIntoReport(*assistant, *header, *sections);
  return 0;
}
