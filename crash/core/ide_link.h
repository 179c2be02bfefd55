// The link to the program's development environment: a call stack line is sent, as the registered message
// "RavexIdeJumpCommand" (own process id, address of the line text), to the environment's message window,
// a top-level window whose class name is "rvxToolsMsgHandlerWindow" followed by the id of the thread that
// owns the environment's main window (class "TAppBuilder") as HexText.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rvx {

// The window class prefix of the environment's message window for the thread that owns its main window.
std::string IdeJumpWindowPrefix(uint32_t threadId);
// Whether a class name is that message window's: the prefix, then the end of the name or the "$" before the
// rest (a thread whose id merely starts with the same digits is another thread).
bool IsIdeJumpWindowClass(std::string_view className, uint32_t threadId);

struct TopWindow {
  uintptr_t handle = 0;
  std::string className;
};
enum class IdeJumpScope { EveryWindow, FirstWindow };
// The windows, in the given order, that receive the line.
std::vector<uintptr_t> IdeJumpReceivers(const std::vector<TopWindow>& windows, uint32_t ideThreadId,
                                        IdeJumpScope scope = IdeJumpScope::EveryWindow);

#ifdef _WIN32
// Sends the line to the receivers when the environment runs, waiting at most 1000 ms for each and not at
// all for one that hangs; returns how many received it.
int IdeJump(const std::string& line, IdeJumpScope scope = IdeJumpScope::EveryWindow);
#endif

}  // namespace rvx
