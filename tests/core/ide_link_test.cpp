// Which top-level windows receive a call stack line for the development environment.
#include <gtest/gtest.h>

#include "crash/core/ide_link.h"

namespace {

TEST(IdeLink, EveryMessageWindowOfTheEnvironmentsThreadReceivesTheLine) {
  std::vector<rvx::TopWindow> windows = {
      {1, "TAppBuilder"},
      {2, "rvxToolsMsgHandlerWindow$a10$401000"},
      {3, "rvxToolsMsgHandlerWindow$a102$401000"},  // thread $a102 is another thread
      {4, "rvxToolsMsgHandlerWindow$b20"},
      {5, "rvxToolsMsgHandlerWindow$a10"},
      {6, "RavexWndClass"},
  };
  EXPECT_EQ(rvx::IdeJumpReceivers(windows, 0xa10), (std::vector<uintptr_t>{2, 5}));
  EXPECT_EQ(rvx::IdeJumpReceivers(windows, 0xa10, rvx::IdeJumpScope::FirstWindow), (std::vector<uintptr_t>{2}));
  EXPECT_EQ(rvx::IdeJumpReceivers(windows, 0xb20), (std::vector<uintptr_t>{4}));
  EXPECT_TRUE(rvx::IdeJumpReceivers(windows, 0xc30).empty());
  EXPECT_TRUE(rvx::IdeJumpReceivers({}, 0xa10).empty());
}

}  // namespace
