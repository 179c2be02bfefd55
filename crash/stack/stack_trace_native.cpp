// Host builds have no 32-bit process to walk: the process walker sees no memory, so traces are empty and
// single addresses have no symbol information.
#ifndef _WIN32
#include "crash/stack/stack_trace.h"
#include "crash/stack/text.h"

namespace rvx {

void SetSymbolSource(SymbolSource) {}
void AddRaiseRoutine(Address) {}

TStackWalker& ProcessStackWalker() {
  static TStackWalker walker{WalkerEnvironment{}};
  return walker;
}

TraceResult TraceStack(const TraceOptions& options) { return ProcessStackWalker().Trace(options); }

int CollectStackCandidates(Address ebp, Address stackTop, Address stackBottom, TDAPreStackItem& out, bool isException,
                           Address currentAddress) {
  return ProcessStackWalker().CollectCandidates(ebp, stackTop, stackBottom, out, isException, currentAddress);
}

std::string StackLineText(Address address, bool showRelAddrs, bool) {
  return AddressText(address) + (showRelAddrs ? " +0" : "") + " ???";
}

}  // namespace rvx
#endif
