// Runs the walker corpus (optimised, no frame pointers) in its bench mode and crashlab's report-cost
// scenario under Wine, and prints the median trace time of one thread and the time to complete a report of
// ten threads against the peers measured in the same run.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "../wine_run.h"

namespace {

const std::string kRoot = RVX_SOURCE_DIR;

std::string RunWine(const std::string& exe, const std::string& args) {
  return bench::RunWine(kRoot, "/tmp/bench_walker", exe, args);
}
using bench::Field;

}  // namespace

int main() {
  std::string trace = RunWine("walker_corpus_O2_nofp.exe", "bench");
  double cold = Field(trace, "bench ours-cold-us"), warm = Field(trace, "bench ours-warm-us");
  double fp = Field(trace, "bench fpwalk-us"), unwind = Field(trace, "bench unwind-us");
  double dbgFirst = Field(trace, "bench dbghelp-first-us"), dbg = Field(trace, "bench dbghelp-us");
  std::printf("one thread, median trace (-O2, no frame pointers):\n");
  std::printf("  ours, first trace in the process  %9.0f us  (target < 30000)\n", cold);
  std::printf("  ours, later traces                %9.0f us\n", warm);
  std::printf("  frame-pointer walk                %9.1f us  ours/peer %.0fx\n", fp, fp > 0 ? warm / fp : 0);
  std::printf("  _Unwind_Backtrace                 %9.1f us  ours/peer %.1fx\n", unwind, unwind > 0 ? warm / unwind : 0);
  std::printf("  dbghelp StackWalk64, first        %9.0f us  ours/peer %.2fx\n", dbgFirst,
              dbgFirst > 0 ? cold / dbgFirst : 0);
  std::printf("  dbghelp StackWalk64, later        %9.0f us  ours/peer %.2fx\n", dbg, dbg > 0 ? warm / dbg : 0);
  std::string report = RunWine("crashlab.exe", "report-cost 11");
  double r = Field(report, "report-us"), first = Field(report, "report-first-us");
  std::printf("ten-thread report (stacks, registers, dump, disassembly, plug-ins):\n");
  std::printf("  median %.0f us, slowest (first) %.0f us  (target < 500000); against 10 dbghelp walks %.0f us: %.2fx\n",
              r, first, 10 * dbg + dbgFirst, (10 * dbg + dbgFirst) > 0 ? first / (10 * dbg + dbgFirst) : 0);
  return 0;
}
