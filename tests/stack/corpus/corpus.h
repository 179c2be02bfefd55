// The walker's accuracy corpus: the chains (built four ways) and the measuring side that runs our walker and
// its peers over the same crash and prints one line per shown frame.
#pragma once
#include <csetjmp>
#include <vector>

namespace corpus {

enum Scenario { kDirect, kPointerVirtual, kRecursion, kThrow, kWindowProc, kEnumeration, kTimer, kWorker, kTail };

struct Expected {
  int scenario;
  const char* name;
  // Routines from the crash outward, up to the root of the chain; "?" in front: may be missing (a tail call).
  std::vector<const char*> routines;
};
const std::vector<Expected>& Scenarios();
void Root(int scenario);

// Provided by the measuring side.
void* CorpusWindow(void* windowProc);         // a message-only window with that procedure
void* CreateWorker(unsigned long(__stdcall* start)(void*));  // records its caller as the creator
std::jmp_buf& WorkerJump();                   // where a faulting worker thread resumes

}  // namespace corpus
