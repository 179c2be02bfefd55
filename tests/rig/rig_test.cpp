#include <gtest/gtest.h>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

TEST(Rig, ThreadsAndExceptionsWork) {
  int v = 0;
  std::thread t([&] { v = 42; });
  t.join();
  EXPECT_EQ(v, 42);
  EXPECT_THROW(throw std::runtime_error("x"), std::runtime_error);
}
#ifdef _WIN32
TEST(Rig, RunsUnderWine) {
  EXPECT_NE(GetModuleHandleA("kernel32.dll"), nullptr);
}
#endif
