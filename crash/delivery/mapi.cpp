#include "crash/delivery/mapi.h"

#include "crash/delivery/mailto.h"

namespace rvx {

std::vector<MapiRecipient> MapiRecipients(std::string_view list) {
  std::vector<MapiRecipient> out;
  for (const std::string& entry : SplitRecipients(list)) {
    size_t lt = entry.find('<');
    if (lt == std::string::npos) {
      out.push_back({entry, "SMTP:" + entry});
      continue;
    }
    size_t gt = entry.find('>', lt + 1);
    std::string address = entry.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1);
    out.push_back({entry.substr(0, lt), "SMTP:" + address});
  }
  return out;
}

uint32_t MapiSendFlags(bool silent, bool haveRecipients) {
  return silent && haveRecipients ? 0u : kMapiLogonUi | kMapiDialog;
}

MapiResult MapiResultOf(uint32_t code) {
  if (code == 0) return kMapiSent;
  if (code == 1) return kMapiCancelled;
  return kMapiFailed;
}

namespace {
MainThreadPauseHooks g_pauseHooks;
}

void SetMainThreadPauseHooks(const MainThreadPauseHooks& hooks) { g_pauseHooks = hooks; }
const MainThreadPauseHooks& GetMainThreadPauseHooks() { return g_pauseHooks; }

}  // namespace rvx
