// Without a desktop the progress window never opens: the object keeps its areas and positions only.
#ifndef _WIN32
#include "crash/ui/progress_alert.h"

namespace rvx {

namespace {

class HeadlessProgressWindow final : public ProgressWindowPort {
 public:
  bool IsOpen() override { return false; }
  bool Open(ProgressWindowHandle, bool, const std::string&, const std::vector<std::string>&) override { return false; }
  bool InOwnThread() override { return false; }
  void SetCaption(const std::string&) override {}
  void SetLabel(const std::string&) override {}
  void SendBar(int32_t) override {}
  void PostBar(int32_t) override {}
  void Pump() override {}
  void Close() override {}
};

}  // namespace

std::unique_ptr<ProgressWindowPort> MakeProgressWindowPort(uintptr_t, std::string_view) {
  return std::make_unique<HeadlessProgressWindow>();
}

}  // namespace rvx
#endif
