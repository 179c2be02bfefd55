// Runs crashlab.exe of the Windows build under Wine: the arming cost at start-up (Enabled on) against the
// same program disarmed (Enabled off), and the time from a fault in a thread to its saved report against a
// thread that does not fault; the cost of a caught throw armed against disarmed, and with a hidden-exception
// handler that sees every catch; medians and ratios.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../wine_run.h"

namespace {

const std::string kRoot = RVX_SOURCE_DIR;

std::string RunWine(const std::string& exe, const std::string& args) {
  return bench::RunWine(kRoot, "/tmp/bench_handling", exe, args);
}
using bench::Field;

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  std::vector<double> armed, disarmed;
  for (int i = 0; i < 11; ++i) {
    armed.push_back(Field(RunWine("crashlab.exe", "startup-cost"), "arming-us"));
    disarmed.push_back(Field(RunWine("crashlab_off.exe", "startup-cost"), "arming-us"));
  }
  double a = Median(armed), d = Median(disarmed);
  if (a < 0 || d < 0) {
    std::puts("bench_handling: crashlab.exe did not run (build the Windows tree first: make win32)");
    return 1;
  }
  std::printf("start-up, crash reporter part: armed %.0f us, disarmed (peer) %.0f us, arming adds %.2f ms, ratio %.2f\n",
              a, d, (a - d) / 1000.0, d > 0 ? a / d : 0.0);
  std::string faults = RunWine("crashlab.exe", "fault-cost 21");
  double f = Field(faults, "fault-us"), t = Field(faults, "thread-us");
  std::printf("fault to saved report: median %.2f ms; plain thread start and end (peer) %.2f ms; ratio %.1f\n",
              f / 1000.0, t / 1000.0, t > 0 ? f / t : 0.0);
  double armedCatch = Field(RunWine("crashlab.exe", "catch-cost 20000"), "catch-ns");
  double plainCatch = Field(RunWine("crashlab_off.exe", "catch-cost 20000"), "catch-ns");
  double hiddenCatch = Field(RunWine("crashlab.exe", "catch-cost 50 hidden"), "catch-ns");
  std::printf("caught throw: armed %.0f ns, disarmed (peer) %.0f ns, ratio %.2f; every catch handed over as a hidden "
              "exception %.2f ms, ratio %.0f\n",
              armedCatch, plainCatch, plainCatch > 0 ? armedCatch / plainCatch : 0.0, hiddenCatch / 1e6,
              plainCatch > 0 ? hiddenCatch / plainCatch : 0.0);
  return 0;
}
