#include "crash/core/thread_stack.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "crash/delivery/deflate.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {

uint32_t LineValue(const StackLine& l) {
  if (!l.routineStart || l.module.empty() || l.module == "???" || l.routine.empty()) return l.address;
  uint32_t v = l.address - l.routineStart;
  auto add = [&](const std::string& s) {
    std::string lower = LowerText(s);
    v = Crc32Update(v, lower.data(), static_cast<int32_t>(lower.size()));
  };
  add(l.module);
  if (!l.unit.empty()) add(l.unit);
  add(l.routine);
  return v;
}

std::atomic<StackTextProvider> g_provider{nullptr};
std::atomic<bool> g_includeOwn{false};

struct ThreadEntry {
  uint32_t id;
  std::string name, classText;
  uint32_t creatorAddress, creatorThreadId;
};
std::timed_mutex g_namesMutex;
std::vector<ThreadEntry> g_names;
std::atomic<uint32_t> g_mainThreadId{0};

bool IsInternalName(const std::string& n) {
  return n == "-" || n == "Ravex - AntiFreezeThread" || n == "Ravex - HandleExceptionThread" ||
         n == "Ravex - TraceProcessThread";
}

}  // namespace

StackText FormatStackLines(const std::vector<StackLine>& lines, const StackTextOptions& options) {
  StackText out;
  size_t moduleWidth = 0, unitWidth = 0, absWidth = 0, lineWidth = 0, relWidth = 0;
  bool anyRel = false, anyRelLine = false;
  for (const auto& l : lines) {
    moduleWidth = std::max(moduleWidth, l.module.size());
    unitWidth = std::max(unitWidth, l.unit.size());
    if (options.showRelAddrs && l.routineStart && l.routineStart < l.address) {
      anyRel = true;
      relWidth = std::max(relWidth, HexText(l.address - l.routineStart).size() + 1);
    }
    if (l.relLine >= 0 && options.showRelLines) anyRelLine = true;
  }
  // Line columns are right-aligned to their longest entry and followed by one blank.
  for (const auto& l : lines) {
    bool rel = l.relLine >= 0 && options.showRelLines;
    if (anyRelLine && rel && l.line > 0) absWidth = std::max(absWidth, DecimalText(l.line).size());
    if (rel)
      lineWidth = std::max(lineWidth, DecimalText(l.relLine).size() + 1);
    else if (l.line > 0)
      lineWidth = std::max(lineWidth, DecimalText(l.line).size());
  }
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto& l = lines[i];
    std::string s = AddressText(l.address) + " ";
    if (anyRel) {
      if (l.routineStart && l.routineStart < l.address)
        s += "+" + PadText(AddressText(l.address - l.routineStart, false), static_cast<int>(relWidth) - 2, '0') + " ";
      else
        s += "+" + std::string(relWidth - 2, '0') + " ";
    }
    s += PadText(l.module, -static_cast<int>(moduleWidth + 1));
    s += PadText(l.unit, -static_cast<int>(unitWidth + 1));
    if (absWidth)
      s += (l.line > 0 && l.relLine >= 0 ? PadText(DecimalText(l.line), static_cast<int>(absWidth))
                                         : std::string(absWidth, ' ')) + " ";
    if (lineWidth) {
      if (l.relLine >= 0 && options.showRelLines)
        s += PadText("+" + DecimalText(l.relLine), static_cast<int>(lineWidth));
      else if (l.line > 0)
        s += PadText(DecimalText(l.line), static_cast<int>(lineWidth));
      else
        s += std::string(lineWidth, ' ');
      s += " ";
    }
    s += l.routine;
    if (i) text += "\r\n";
    text += s;
    uint32_t v = LineValue(l);
    if (i == 0) {
      out.crcFirst = out.crcCombined = v;
    } else {
      uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
      out.crcCombined = Crc32Update(out.crcCombined, b, 4);
    }
    if (l.line > 0 || l.relLine > 0) out.hasLineNumbers = true;
  }
  out.text = text;
  return out;
}

std::vector<uint32_t> FramePointerWalk(uint32_t currentAddress, uint32_t ebp, uint32_t bottom, uint32_t top,
                                       const MemoryRead& read, uint32_t creatorAddress) {
  std::vector<uint32_t> out;
  if (currentAddress) out.push_back(currentAddress);
  for (int guard = 0; guard < 4096 && ebp > bottom && top >= 8 && ebp < top - 8; ++guard) {
    uint32_t frame[2];
    if (!read(ebp, frame, 8)) break;
    if (frame[1] > 7) out.push_back(frame[1]);
    if (frame[0] <= ebp) break;
    ebp = frame[0];
  }
  if (creatorAddress) out.push_back(creatorAddress);
  return out;
}

StackText PlainStackText(const TThreadStack& thread, const StackTextOptions& options, const MemoryRead& read,
                         const ModuleNameOf& moduleOf) {
  std::vector<StackLine> lines;
  for (uint32_t a : FramePointerWalk(thread.currentAddress, thread.ebp, thread.stackBottom, thread.stackTop, read,
                                     thread.creatorAddress)) {
    if (options.abort && *options.abort) break;
    StackLine l;
    l.address = a;
    l.module = moduleOf(a);
    if (l.module.empty()) l.module = "???";
    lines.push_back(std::move(l));
  }
  if (lines.empty()) return {};
  StackText t = FormatStackLines(lines, options);
  if (thread.creatorAddress && lines.size() > 1) {
    uint32_t creatorThread = 0;
    size_t last = t.text.rfind("\r\n");
    uint32_t dummy = 0;
    std::string title = ThreadTitle(thread.creatorThreadId, true, &dummy, &creatorThread);
    if (title.empty()) title = "thread " + HexText(thread.creatorThreadId);
    t.text.insert(last, "\r\n>> created by " + title + " at:");
  }
  return t;
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

void SetStackTextProvider(StackTextProvider provider) { g_provider.store(provider); }

StackText ThreadStackText(const TThreadStack& thread, const StackTextOptions& options) {
  if (auto p = g_provider.load()) return p(thread, options);
  return PlainStackText(thread, options, ReadProcessMemorySafe, ModuleNameOfAddress);
}

std::string StackLineText(uint32_t address, bool showRelAddrs, bool) {
  std::string module = ModuleNameOfAddress(address);
  if (module.empty()) return AddressText(address) + (showRelAddrs ? " +0" : "") + " ???";
  return AddressText(address) + " " + module;
}

std::string InternalErrorText(const std::string& phase) { return ">> internal error in " + phase; }

// ---- thread names -------------------------------------------------------------------------------------

uint32_t MainThreadId() { return g_mainThreadId.load(); }

void UpdateThreadEntry(uint32_t threadId, const std::string& name, uint32_t creatorThreadId, uint32_t creatorAddress,
                       const std::string& classText) {
  std::lock_guard<std::timed_mutex> lock(g_namesMutex);
  auto it = std::find_if(g_names.begin(), g_names.end(), [&](const ThreadEntry& e) { return e.id == threadId; });
  if (name.empty() && !creatorAddress) {
    if (it != g_names.end()) g_names.erase(it);
    return;
  }
  if (it == g_names.end()) {
    g_names.push_back({threadId, name, classText, creatorAddress, creatorThreadId});
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
  if (it == g_names.end()) return "thread " + idText;
  if (creatorAddress) *creatorAddress = it->creatorAddress;
  if (creatorThreadId) *creatorThreadId = it->creatorThreadId;
  if (!includeInternal && IsInternalName(it->name)) return {};
  if (!it->name.empty() && it->name != "-") return it->name + " (" + idText + ")";
  return "thread " + idText + (it->classText.empty() ? "" : " (" + it->classText + ")");
}

void SetIncludeOwnThreads(bool include) { g_includeOwn.store(include); }
bool IncludeOwnThreads() { return g_includeOwn.load(); }

}  // namespace rvx
