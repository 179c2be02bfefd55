// crashlab scenarios that need the desktop: the clipboard.
#include "crashlab/crashlab_run.h"

namespace {

TEST(CrashlabDesktop, TraceWithSizeZeroPutsAFullReportOnTheClipboard) {
  Outcome o = RunLab("trace-clipboard");
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.exitCode, 0u) << o.out;
  EXPECT_EQ(o.out,
            "crashlab: trace-clipboard\r\ntrace returned 0\r\nclipboard begins date/time\r\n"
            "has main thread ($\r\nhas Ravex - HandleExceptionThread ($\r\nhas Ravex - TraceProcessThread ($\r\n"
            "survived\r\n");
}

}  // namespace
