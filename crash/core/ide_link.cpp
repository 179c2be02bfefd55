#include "crash/core/ide_link.h"

#include "crash/stack/text.h"

namespace rvx {

std::string IdeJumpWindowPrefix(uint32_t threadId) { return "rvxToolsMsgHandlerWindow" + HexText(threadId); }

bool IsIdeJumpWindowClass(std::string_view className, uint32_t threadId) {
  std::string prefix = IdeJumpWindowPrefix(threadId);
  if (!className.starts_with(prefix)) return false;
  return className.size() == prefix.size() || className[prefix.size()] == '$';
}

std::vector<uintptr_t> IdeJumpReceivers(const std::vector<TopWindow>& windows, uint32_t ideThreadId,
                                        IdeJumpScope scope) {
  std::vector<uintptr_t> receivers;
  for (const TopWindow& w : windows) {
    if (!IsIdeJumpWindowClass(w.className, ideThreadId)) continue;
    receivers.push_back(w.handle);
    if (scope == IdeJumpScope::FirstWindow) break;
  }
  return receivers;
}

}  // namespace rvx
