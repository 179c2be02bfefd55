#include "crash/core/thread_stack.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "crash/stack/text.h"

namespace rvx {

namespace {

std::atomic<TraceProvider> g_provider{nullptr};
std::atomic<DisassemblyHook> g_disassembly{nullptr};
std::atomic<bool> g_includeOwn{false};

struct ThreadEntry {
  uint32_t id;
  std::string name, classText;
  uint32_t creatorAddress, creatorThreadId;
  uintptr_t watch;  // tells when the thread has ended; 0 when the system gives none
};
std::timed_mutex g_namesMutex;
std::vector<ThreadEntry> g_names;
std::atomic<uint32_t> g_mainThreadId{0};

bool IsInternalName(const std::string& n) {
  return n == "-" || n == "Ravex - AntiFreezeThread" || n == "Ravex - HandleExceptionThread" ||
         n == "Ravex - TraceProcessThread";
}

}  // namespace

void SetTraceProvider(TraceProvider provider) { g_provider.store(provider); }

TraceResult ThreadStackText(TThreadStack& thread, const StackTextOptions& options) {
  TraceOptions o;
  o.hideUglyItems = options.hideUglyItems;
  o.showRelAddrs = options.showRelAddrs;
  o.showRelLines = options.showRelLines;
  o.noTopItem = !thread.isException && !thread.currentAddress;
  o.abort = options.abort;
  o.candidates = thread.candidates.empty() ? nullptr : &thread.candidates;
  o.ebp = thread.ebp;
  o.progress = options.progress;
  o.creatorAddress = thread.creatorAddress;
  o.stackTop = thread.stackTop;
  o.stackBottom = thread.stackBottom;
  o.externalException = thread.externalException;
  o.isException = thread.isException;
  o.currentAddress = thread.currentAddress;
  o.wantItems = false;
  TraceProvider provider = g_provider.load();
  TraceResult r = provider ? provider(o) : TraceStack(o);
  TDAPreStackItem().swap(thread.candidates);
  const bool aborted = options.abort && *options.abort;
  if (thread.creatorAddress && !r.text.empty() && r.text[0] != '>' && !aborted) {
    // The creator's call site is the last line; the line naming the creating thread goes before it.
    std::string created = ">> created by " + ThreadTitle(thread.creatorThreadId, true) + " at:";
    size_t last = r.text.rfind("\r\n");
    if (last == std::string::npos)
      r.text = created + "\r\n" + r.text;
    else
      r.text.insert(last, "\r\n" + created);
  }
  return r;
}

std::string CpuRegistersText(const TContext& c) {
  const std::pair<const char*, uint32_t> regs[] = {{"eax", c.Eax}, {"ebx", c.Ebx}, {"ecx", c.Ecx},
                                                   {"edx", c.Edx}, {"esi", c.Esi}, {"edi", c.Edi},
                                                   {"eip", c.Eip}, {"esp", c.Esp}, {"ebp", c.Ebp}};
  std::string out;
  for (const auto& [name, value] : regs) {
    if (!out.empty()) out += "\r\n";
    out += std::string(name) + " = " + AddressText(value);
  }
  return out;
}

std::string StackDumpText(uint32_t address, const uint8_t* bytes, uint32_t available) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint32_t line = 0; line < 20 && line * 16 < available; ++line) {
    std::string hex, chars;
    for (uint32_t i = 0; i < 16; ++i) {
      uint32_t at = line * 16 + i;
      if (i == 8) hex += at < available ? "- " : "  ";
      if (at < available) {
        uint8_t b = bytes[at];
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
        hex += ' ';
        chars += b >= 33 && b <= 126 ? static_cast<char>(b) : '.';
      } else {
        hex += "   ";
      }
    }
    if (!out.empty()) out += "\r\n";
    out += AddressText(address + line * 16) + "  " + hex + " " + chars;
  }
  return out;
}

void SetDisassemblyHook(DisassemblyHook hook) { g_disassembly.store(hook); }
DisassemblyHook GetDisassemblyHook() { return g_disassembly.load(); }

// ---- thread names -------------------------------------------------------------------------------------

uint32_t MainThreadId() { return g_mainThreadId.load(); }

void UpdateThreadEntry(uint32_t threadId, const std::string& name, uint32_t creatorThreadId, uint32_t creatorAddress,
                       const std::string& classText) {
  std::lock_guard<std::timed_mutex> lock(g_namesMutex);
  // Entries of threads that have ended go first: a thread that takes over a dead thread's id must not
  // inherit its name or its creator.
  std::erase_if(g_names, [](const ThreadEntry& e) {
    if (!e.watch || !ThreadHasEnded(e.watch)) return false;
    ForgetThreadWatch(e.watch);
    return true;
  });
  auto it = std::find_if(g_names.begin(), g_names.end(), [&](const ThreadEntry& e) { return e.id == threadId; });
  if (name.empty() && !creatorAddress) {
    if (it != g_names.end()) {
      ForgetThreadWatch(it->watch);
      g_names.erase(it);
    }
    return;
  }
  if (it == g_names.end()) {
    g_names.push_back({threadId, name, classText, creatorAddress, creatorThreadId, WatchThread(threadId)});
    return;
  }
  if (!name.empty()) it->name = name;
  if (!classText.empty()) it->classText = classText;
  if (creatorAddress) it->creatorAddress = creatorAddress;
  if (creatorThreadId) it->creatorThreadId = creatorThreadId;
}

void RegisterThreadName(uint32_t threadId, const std::string& name) { UpdateThreadEntry(threadId, name); }

void SetMainThreadIdForNames(uint32_t id) { g_mainThreadId.store(id); }

std::string ThreadTitle(uint32_t threadId, bool includeInternal, uint32_t* creatorAddress, uint32_t* creatorThreadId) {
  std::string idText = HexText(threadId);
  if (creatorAddress) *creatorAddress = 0;
  if (creatorThreadId) *creatorThreadId = 0;
  std::unique_lock<std::timed_mutex> lock(g_namesMutex, std::chrono::milliseconds(50));
  if (!lock.owns_lock()) return "thread " + idText;
  auto it = std::find_if(g_names.begin(), g_names.end(), [&](const ThreadEntry& e) { return e.id == threadId; });
  // An entry left behind by a thread that has ended says nothing about a thread that has its id now.
  if (it == g_names.end() || (it->watch && ThreadHasEnded(it->watch))) return "thread " + idText;
  if (creatorAddress) *creatorAddress = it->creatorAddress;
  if (creatorThreadId) *creatorThreadId = it->creatorThreadId;
  if (!includeInternal && IsInternalName(it->name)) return {};
  if (!it->name.empty() && it->name != "-") return it->name + " (" + idText + ")";
  return "thread " + idText + (it->classText.empty() ? "" : " (" + it->classText + ")");
}

void SetIncludeOwnThreads(bool include) { g_includeOwn.store(include); }
bool IncludeOwnThreads() { return g_includeOwn.load(); }

}  // namespace rvx
