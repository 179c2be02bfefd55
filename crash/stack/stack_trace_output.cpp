// The walker's results: which items are shown, the text format of the stack lines with its columns, the
// checksums, the exception function, the one-line form of an address and the internal-error texts.
#include <algorithm>
#include <string_view>
#include <stdexcept>

#include "crash/delivery/deflate.h"
#include "crash/stack/module.h"
#include "crash/stack/stack_trace.h"
#include "crash/stack/stack_trace_internal.h"
#include "crash/stack/text.h"

namespace rvx {

using namespace walker_detail;

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

// The shown value of a line: the relative line when one was computed, else the absolute one.
int32_t ShownLine(const StackLine& l) { return l.relLine >= 0 ? l.relLine : static_cast<int32_t>(l.line); }

}  // namespace

StackText FormatStackLines(const std::vector<StackLine>& lines, bool showRelAddrs, bool showRelLines) {
  StackText out;
  size_t moduleWidth = 0, unitWidth = 0, absWidth = 0, lineWidth = 0, relWidth = 0;
  bool anyRel = false, anyRelLine = false;
  for (const auto& l : lines) {
    moduleWidth = std::max(moduleWidth, l.module.size());
    unitWidth = std::max(unitWidth, l.unit.size());
    if (showRelAddrs && l.routineStart && l.routineStart < l.address) {
      anyRel = true;
      relWidth = std::max(relWidth, HexText(l.address - l.routineStart).size() + 1);
    }
    if (l.relLine >= 0 && showRelLines) anyRelLine = true;
  }
  // Line columns are right-aligned to their longest entry and followed by one blank.
  for (const auto& l : lines) {
    bool rel = l.relLine >= 0 && showRelLines;
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
      if (l.relLine >= 0 && showRelLines)
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
    if (ShownLine(l) > 0) out.hasLineNumbers = true;
  }
  out.text = text;
  return out;
}

std::string InternalErrorText(const std::string& phase, Address exceptionAddress, bool showRelAddrs,
                              bool showRelLines) {
  std::string text = ">> internal error in " + phase;
  if (exceptionAddress) text += ":\r\n" + StackLineText(exceptionAddress, showRelAddrs, showRelLines);
  return text;
}

// ---- the crash reporter's own plumbing ----------------------------------------------------------------

bool IsOwnRoutine(const std::string& routine) {
  return routine.compare(0, 4, "rvx.") == 0 || routine.compare(0, 4, "rvx_") == 0;
}

bool IsOwnPlumbing(const std::string& routine) {
  static constexpr std::string_view kPlumbing[] = {
      "ThreadEntryWrapper", "WorkItemWrapper", "RunWrapped",      "ExecuteWrapper",
      "RunGuardedThreadBody", "RunFaultGuarded", "rvx_guard_enter", "rvx_guard_trampoline"};
  if (!IsOwnRoutine(routine)) return false;
  // Any part of the name: the lambdas and helpers inside these routines are named after them.
  for (size_t start = 0; start <= routine.size();) {
    size_t end = routine.find('.', start);
    if (end == std::string::npos) end = routine.size();
    const std::string_view part(routine.data() + start, end - start);
    for (std::string_view p : kPlumbing)
      if (part == p) return true;
    start = end + 1;
  }
  return false;
}

// ---- the walker object --------------------------------------------------------------------------------

TStackWalker::TStackWalker(WalkerEnvironment env) : env_(std::move(env)), lists_(std::make_unique<Lists>()) {}
TStackWalker::~TStackWalker() = default;
size_t TStackWalker::ModuleCount() const { return lists_->modules.size(); }
size_t TStackWalker::FunctionCount() const { return lists_->functions.size(); }

TraceResult TStackWalker::Trace(const TraceOptions& options) {
  TraceResult result;
  if (!env_.memory) return result;
  WalkState w(*lists_, env_, options, result);
  const char* phase = "CollectPossibleStackItems";
  std::vector<StackLine> lines;
  try {
    w.Collect();
    if (!w.readable) return result;
    w.Progress(25);
    phase = "RemoveRecursiveStackAreas";
    if (!w.Aborted()) w.RemoveRecursion(true);
    phase = "InDeepChecks";
    if (!w.Aborted()) w.DeepChecks();
    phase = "RealizeOptimalLinkChains";
    if (!w.Aborted()) w.SelectChains();
    phase = "RemoveRecursiveAreas";
    if (!w.Aborted()) w.RemoveRecursion(false);
    phase = "FillFinalOutput";
    if (!w.Aborted()) w.FillOutput();
    phase = "ComposeResult";
    if (w.Aborted()) return result;
    // Which items are shown: the top item, the creator's call site, and items with a routine name (and a line
    // when ugly items are hidden); an ordinary item at the address of the previous shown line is left out.
    // The crash reporter's plumbing is left out when the innermost named line is the program's.
    bool hidePlumbing = !options.keepOwnPlumbing;
    for (int i = static_cast<int>(w.items.size()) - 1; i >= 0 && hidePlumbing; --i) {
      const Item& it = w.items[i];
      if (it.hidden || it.routine.empty()) continue;
      hidePlumbing = !IsOwnRoutine(it.routine);
      break;
    }
    Address previous = 0;
    bool any = false;
    for (int i = static_cast<int>(w.items.size()) - 1; i >= 0; --i) {
      const Item& it = w.items[i];
      if (it.hidden) continue;
      if (hidePlumbing && !it.isTop && IsOwnPlumbing(it.routine)) continue;
      const bool creatorLine = i == 0 && w.creator != 0;
      const int32_t shownLine = it.relLine >= 0 ? it.relLine : it.line;
      const bool named = !it.routine.empty() && (shownLine > 0 || !options.hideUglyItems);
      if (!it.isTop && !creatorLine && !named) continue;
      if (!it.isTop && !creatorLine && any && it.display == previous) continue;
      StackLine l;
      l.address = it.display;
      l.routineStart = it.routineStart;
      l.module = it.moduleName;
      l.unit = it.unit;
      l.routine = it.routine;
      l.line = it.line > 0 ? static_cast<uint32_t>(it.line) : 0;
      l.relLine = it.relLine;
      lines.push_back(std::move(l));
      previous = it.display;
      any = true;
    }
    StackText st = FormatStackLines(lines, options.showRelAddrs, options.showRelLines);
    result.text = st.text;
    result.crcFirst = st.crcFirst;
    result.crcCombined = st.crcCombined;
    result.hasLineNumbers = st.hasLineNumbers;
    // The exception function: the first shown line with a routine start and a relative line, else the first
    // with a routine start.
    for (int pass = 0; pass < 2 && !result.exceptionFunctionStart; ++pass)
      for (const StackLine& l : lines)
        if (l.routineStart && (pass == 1 || l.relLine >= 0)) {
          result.exceptionFunctionStart = l.routineStart;
          result.exceptionFunctionAddress = l.address;
          break;
        }
    if (options.wantItems)
      for (const StackLine& l : lines) {
        TStackItem item;
        item.address = l.address;
        item.relAddress = l.routineStart && l.routineStart < l.address ? l.address - l.routineStart : 0;
        item.moduleName = l.module;
        item.unitName = l.unit;
        item.line = l.relLine >= 0 ? l.line : 0;
        item.relLine = l.relLine >= 0 ? static_cast<uint32_t>(l.relLine) : l.line;
        item.functionName = l.routine;
        result.items.push_back(std::move(item));
      }
  } catch (...) {
    TraceResult failed;
    failed.text = InternalErrorText(phase);
    if (options.isException)
      failed.text += "\r\n>> original exception location: \r\n" +
                     LineText(options.currentAddress, options.showRelAddrs, options.showRelLines);
    return failed;
  }
  return result;
}

int TStackWalker::CollectCandidates(Address ebp, Address stackTop, Address stackBottom, TDAPreStackItem& out,
                                    bool isException, Address currentAddress) {
  out.clear();
  out.reserve(64);
  out.push_back({0, 0});
  if (!env_.memory) return 0;
  TraceOptions options;
  options.stackTop = stackTop;
  options.stackBottom = stackBottom;
  options.isException = isException;
  options.currentAddress = currentAddress;
  TraceResult ignored;
  try {
    WalkState w(*lists_, env_, options, ignored);
    std::vector<uint32_t> stack;
    if (!w.ReadStack(stack)) return 0;
    if (ebp) w.BuildFrameChain(ebp, stack);
    const Address currentFrame = ebp && ebp + 4 > w.bottom && ebp + 4 < w.top ? ebp + 4 : 0;
    for (size_t i = stack.size(); i-- > 0;) {
      const uint32_t v = stack[i];
      if (isException && currentAddress && v == currentAddress) break;
      if (v <= 7 || !IsAfterCallSite(*env_.memory, v)) continue;
      const Address slot = w.bottom + static_cast<Address>(i) * 4;
      const bool certain = slot == currentFrame || w.frameSlots.count(slot) != 0;
      if (out.size() == out.capacity()) out.reserve(out.capacity() * 2);
      out.push_back({static_cast<uint8_t>(certain ? 1 : 0), v});
      if (certain && i > 0) --i;
    }
  } catch (...) {
    out.assign(1, TPreStackItem{});
    return 0;
  }
  out[0].address = static_cast<Address>(out.size() - 1);
  return static_cast<int>(out.size() - 1);
}

std::string TStackWalker::LineText(Address address, bool showRelAddrs, bool showRelLines) {
  std::string text = AddressText(address);
  try {
    TraceOptions none;
    TraceResult ignored;
    WalkState w(*lists_, env_, none, ignored);
    int module = env_.memory ? w.ModuleOf(address) : -1;
    const ModuleEntry* m = module >= 0 ? &lists_->modules[module] : nullptr;
    TMfPublic p;
    if (m && m->symbols) p = PublicAt(*m->symbols, address);
    if (!p.valid) return text + (showRelAddrs ? " +0" : "") + " ???";
    const TMapFile& map = *m->symbols;
    if (showRelAddrs) text += " +" + AddressText(address - p.address, false);
    TMfSegment s = SegmentAt(map, true, address);
    text += " " + m->fileName + " " + (s.valid ? s.unit : std::string()) + " ";
    int32_t line = LineAt(map, address).line;
    if (line > 0) text += DecimalText(line) + " ";
    if (showRelLines) {
      int32_t first = LineAt(map, p.address).line;
      text += first < 0 || line < 0 ? std::string("+0 ") : "+" + DecimalText(line - first) + " ";
    }
    std::string unit, name = p.name;
    return text + name;
  } catch (...) {
    return AddressText(address) + (showRelAddrs ? " +0" : "") + " ???";
  }
}

}  // namespace rvx
