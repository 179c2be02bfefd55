// Runs crashlab.exe of the Windows build under Wine: the time from an exception thrown in a thread to the
// exception box being visible, and to the expanded box showing its tabs while ten more threads run (their
// stacks are part of the report), each against the time the system's message box needs to appear in the
// same process (the peer); medians and ratios.
#include <cstdio>
#include <string>

#include "../wine_run.h"

namespace {

const std::string kRoot = RVX_SOURCE_DIR;

}  // namespace

int main() {
  const char* rows[] = {"box-cost 11", "box-cost 11 expanded"};
  const char* names[] = {"fault to box visible", "fault to expanded box (10 more threads)"};
  for (int i = 0; i < 2; ++i) {
    std::string out = bench::RunWine(kRoot, "/tmp/bench_box", "crashlab.exe", rows[i]);
    double box = bench::Field(out, "box-us"), peer = bench::Field(out, "messagebox-us");
    if (box < 0 || peer < 0) {
      std::puts("bench_box: crashlab.exe did not run or showed no box (build the Windows tree first: make win32; "
                "Wine must be able to run 32-bit programs)");
      return 1;
    }
    std::printf("%s: median %.1f ms; system message box (peer) %.1f ms; ratio %.2f\n", names[i], box / 1000.0,
                peer / 1000.0, peer > 0 ? box / peer : 0.0);
  }
  return 0;
}
