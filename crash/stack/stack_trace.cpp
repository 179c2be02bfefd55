// The stack walk: candidate collection, function lookup and call checks, recursion removal, the deep checks
// that link callers to callees, chain selection by score, and the final output of the walk.
#include "crash/stack/stack_trace.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "crash/stack/decoder.h"
#include "crash/stack/module.h"
#include "crash/stack/stack_trace_internal.h"
#include "crash/stack/text.h"

namespace rvx {

using namespace walker_detail;

namespace {

constexpr int64_t Upper(uint32_t high) { return static_cast<int64_t>(uint64_t(high) << 32); }
constexpr int64_t kNoPath = Upper(0x10000000);
constexpr uint32_t kReachedTarget = 0x40000000;
constexpr uint32_t kAllFunctions = 0x20000000;

uint32_t HighOf(int64_t v) { return static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32); }

// The routines of our runtime that raise an exception on behalf of their caller: the C++ throw (and the
// wrapper through which the crash reporter sees it), rethrows, the system's raise call and the unwinder's
// entry points. A top line inside one of them is moved to the call that reached it.
bool IsRaiseRoutineName(const std::string& name) {
  static const char* const kNames[] = {"@RaiseExcept", "Error", "__cxa_throw", "__cxa_rethrow", "RaiseException",
                                       "_Unwind_RaiseException", "_Unwind_Resume_or_Rethrow", "rethrow_exception"};
  std::string lower = LowerText(name);
  for (const char* n : kNames)
    if (lower.find(LowerText(n)) != std::string::npos) return true;
  return false;
}

}  // namespace

// ---- call checks --------------------------------------------------------------------------------------

bool IsAfterCallSite(const MemoryReader& memory, Address a) {
  if (a < 8) return false;
  uint8_t b[8];
  if (!memory.Read(a - 8, b, 8)) return false;
  if (b[3] == 0xE8) return true;  // call rel32
  // call reg / call [reg...]: FF with a ModRM whose reg field is 2 or 3, ending at a.
  for (int at : {6, 5, 4, 2, 1})
    if (b[at] == 0xFF && (b[at + 1] & 0x30) == 0x10) return true;
  return b[1] == 0x9A;  // far call
}

namespace walker_detail {
// A call instruction at `at` that ends at `end` (a call through a slot that cannot be read counts too).
bool CallEndingAt(const MemoryReader& memory, Address at, Address end, InstructionInfo& info) {
  DecodedInstruction d;
  DecodeDetailed(memory, at, d);
  info = d.info;
  return info.isCall && info.nextInstruction == end;
}
}  // namespace walker_detail

Address CallSiteBefore(const MemoryReader& memory, Address returnAddress) {
  if (returnAddress < 8) return returnAddress;
  for (Address a = returnAddress - 7; a <= returnAddress - 2; ++a) {
    InstructionInfo info;
    if (CallEndingAt(memory, a, returnAddress, info)) return a;
  }
  return returnAddress;
}

// ---- module and function lists ------------------------------------------------------------------------

int WalkState::ModuleOf(Address address) {
  RegionInfo region;
  if (!mem.Query(address, region) || !region.committed || !region.allocationBase) return -1;
  return AddModule(region.allocationBase);
}

int WalkState::AddModule(Address base) {
  if (auto it = seenModules.find(base); it != seenModules.end()) return it->second;
  int index = -1;
  ModuleInfo info;
  ModuleRanges ranges;
  if (mem.Module(base, info) && !info.fileName.empty() && ModuleRangesAt(mem, base, ranges) && ranges.hasHeaders) {
    auto found = L.moduleByBase.find(base);
    if (found != L.moduleByBase.end() && L.modules[found->second].fullName == info.fileName) {
      index = found->second;
    } else {
      ModuleEntry m;
      m.handle = base;
      m.fullName = info.fileName;
      m.fileName = FileNamePart(info.fileName);
      m.ranges = ranges;
      m.isMain = base == env.mainModule || info.isMainModule;
      if (env.symbols) {
        auto map = env.symbols(base, info.fileName);
        if (map && map->valid) m.symbols = std::move(map);
      }
      if (m.symbols && !m.isMain) {
        const TMapFile& map = *m.symbols;
        m.routines.handleOnException = PublicByName(map, true, "System", false, "@HandleOnException");
        m.routines.handleAutoException = PublicByName(map, true, "System", false, "@HandleAutoException");
        m.routines.handleFinally = PublicByName(map, true, "System", false, "@HandleFinally");
        m.routines.halt = PublicByName(map, true, "System", false, "@Halt0");
        m.routines.handleAnyException = PublicByName(map, true, "System", false, "@HandleAnyException");
      }
      if (found != L.moduleByBase.end()) {
        // Another module now lives at that base: its entry and the functions analysed in it are stale.
        index = found->second;
        for (auto& f : L.functions)
          if (f.module == index) f.invalid = true;
        std::erase_if(L.functionByEntry, [&](const auto& e) { return L.functions[e.second].module == index; });
        L.modules[index] = std::move(m);
      } else {
        index = static_cast<int>(L.modules.size());
        L.modules.push_back(std::move(m));
        L.moduleByBase[base] = index;
      }
    }
  }
  seenModules[base] = index;
  return index;
}

const std::vector<Address>& WalkState::ExportsOf(int module) {
  ModuleEntry& m = L.modules[module];
  if (!m.exportsLoaded) {
    m.exportsLoaded = true;
    for (const ExportEntry& e : ListExports(mem, m.handle))
      if (e.forwarder.empty() && e.rva) m.exports.push_back(m.handle + e.rva);
    Address nt = PeNtHeaders(mem, m.handle);
    uint32_t entry = 0;
    if (nt && mem.Read32(nt + 0x18 + 0x10, entry) && entry) m.exports.push_back(m.handle + entry);
    std::sort(m.exports.begin(), m.exports.end());
    m.exports.erase(std::unique(m.exports.begin(), m.exports.end()), m.exports.end());
  }
  return m.exports;
}

std::string WalkState::RoutineNameAt(Address address, int module) {
  if (module < 0) return {};
  const ModuleEntry& m = L.modules[module];
  if (m.symbols) {
    TMfPublic p = PublicAt(*m.symbols, address);
    return p.valid ? p.name : std::string();
  }
  return ExportNameAt(mem, m.handle, address, false);
}

int WalkState::AddFunction(Address entry, int module, const std::string& name, bool approve, bool forced) {
  auto it = L.functionByEntry.find(entry);
  int index;
  if (it != L.functionByEntry.end()) {
    index = it->second;
  } else {
    FunctionEntry f;
    f.module = module;
    f.name = name;
    if (forced) {
      f.info.entryPoint = entry;
      f.info.codeBegin = entry;
      f.forced = true;
    } else {
      AnalysisOptions options;
      if (module >= 0 && !L.modules[module].isMain) options.routines = L.modules[module].routines;
      options.findLandingPads = false;
      if (module >= 0) options.landingPads = LandingPads(module, entry);
      AnalyseFunction(mem, entry, options, f.info);
      f.info.entryPoint = entry;
    }
    index = static_cast<int>(L.functions.size());
    L.functions.push_back(std::move(f));
    L.functionByEntry[entry] = index;
  }
  if (approve) Approve(index);
  return index;
}

void WalkState::Approve(int function) {
  std::vector<int> work{function};
  while (!work.empty()) {
    int f = work.back();
    work.pop_back();
    if (L.functions[f].approved) continue;
    L.functions[f].approved = true;
    for (const FarCall& c : L.functions[f].info.farCalls) {
      if (c.isCall || !c.target) continue;
      auto it = L.functionByEntry.find(c.target);
      if (it != L.functionByEntry.end() && !L.functions[it->second].approved) work.push_back(it->second);
    }
  }
}

std::vector<Address> WalkState::LandingPads(int module, Address entry) {
  ModuleEntry& m = L.modules[module];
  if (!m.padsLoaded) {
    m.padsLoaded = true;
    m.pads = UnwindRangesOf(mem, m.handle);
  }
  std::vector<Address> pads;
  auto it = std::upper_bound(m.pads.begin(), m.pads.end(), entry,
                             [](Address a, const UnwindRange& r) { return a < r.begin; });
  if (it != m.pads.begin()) {
    const UnwindRange& r = *(it - 1);
    if (entry >= r.begin && entry < r.end) pads = r.pads;
  }
  return pads;
}

bool WalkState::InCodeAreas(const FunctionEntry& f, Address address) const {
  for (const CodeArea& a : f.info.codeAreas)
    if (!a.isCaseTable && !a.isExceptionTable && a.end && address >= a.start && address <= a.end + 1) return true;
  return false;
}

bool WalkState::IsRaiseTarget(Address target) {
  if (!target) return false;
  if (std::find(env.raiseRoutines.begin(), env.raiseRoutines.end(), target) != env.raiseRoutines.end()) return true;
  auto cached = raiseTargets.find(target);
  if (cached != raiseTargets.end()) return cached->second;
  bool raise = IsRaiseRoutineName(RoutineNameAt(target, ModuleOf(target)));
  raiseTargets[target] = raise;
  return raise;
}

// ---- explaining an item by a function -----------------------------------------------------------------

bool WalkState::Explains(int function, const Item& item, Explanation& out) {
  out = Explanation{};
  if (function < 0) return false;
  const FunctionEntry& f = L.functions[function];
  if (f.invalid) return false;
  if (!item.top) {
    for (const FarCall& c : f.info.farCalls)
      if (c.nextInstruction == item.address) {
        out = {true, c.instructionStart, c.target != 0, c.target};
        return true;
      }
    for (const UnresolvedBranch& u : f.info.unresolvedBranches)
      if (u.nextInstruction == item.address) {
        out = {true, u.instructionStart, false, 0};
        return true;
      }
    return false;
  }
  if (f.forced || !f.info.valid) {
    if (item.address != f.info.entryPoint) return false;
    out = {true, item.address, false, 0};
    return true;
  }
  if (!external && isException) {
    for (const FarCall& c : f.info.farCalls)
      if (c.nextInstruction == current && IsRaiseTarget(c.target)) {
        out = {true, c.instructionStart, true, c.target};
        return true;
      }
  }
  for (const CodeArea& a : f.info.codeAreas) {
    if (a.isCaseTable || a.isExceptionTable || !a.end || item.address <= a.start || item.address > a.end + 1) continue;
    Address at = a.start;
    for (int guard = 0; guard < 100000 && at < item.address; ++guard) {
      InstructionInfo info;
      if (!DecodeInstruction(mem, at, info) || !info.valid || info.nextInstruction <= at) break;
      if (info.nextInstruction == item.address) {
        out = {true, at, false, 0};
        return true;
      }
      at = info.nextInstruction;
    }
    break;
  }
  return false;
}

// ---- feeding candidates -------------------------------------------------------------------------------

bool WalkState::Feed(Address v, Address slot, bool certainFlag, bool forcedTop) {
  if (env.finallyReturn && v == env.finallyReturn) return false;
  Item item;
  item.raw = v;
  item.slot = slot;
  bool top = forcedTop || (isException && v == current);
  const bool creatorItem = items.empty() && creator != 0 && v == creator && !forcedTop;
  if (creatorItem) top = true;
  Address examined;
  if (top) {
    item.address = v;
    examined = v;
    InstructionInfo info;
    uint8_t probe[8];
    if (mem.Read(v, probe, 8) && DecodeInstruction(mem, v, info) && info.valid) item.address = info.nextInstruction;
  } else {
    item.address = v;
    examined = v - 1;
  }
  item.top = top;
  RegionInfo region;
  if (!mem.Query(examined, region) || !region.committed || !region.allocationBase) return false;
  if (item.address <= 7) return false;
  if (!top && !IsAfterCallSite(mem, item.address)) return false;
  item.module = AddModule(region.allocationBase);
  bool accepted = true, inCode = false;
  if (item.module >= 0) {
    const ModuleRanges& r = L.modules[item.module].ranges;
    inCode = item.address > r.codeStart && item.address <= r.codeEnd;
    bool inData = r.dataEnd > r.dataStart && item.address > r.dataStart && item.address <= r.dataEnd;
    accepted = inCode || inData;
  }
  if (!accepted) return false;

  bool lookedUp = false, explained = false;
  int function = -1;
  Explanation how;
  if (inCode) {
    const ModuleEntry& m = L.modules[item.module];
    if (m.symbols) {
      TMfPublic p = PublicAt(*m.symbols, examined);
      if (p.valid) {
        lookedUp = true;
        function = AddFunction(p.address, item.module, p.name, true);
        explained = Explains(function, item, how);
        if (!explained) {
          // Blocks of the routine that it reaches by a call of its own.
          const TFunctionInfo info = L.functions[function].info;
          for (const FarCall& c : info.farCalls) {
            if (c.target <= info.entryPoint) continue;
            if (c.target >= info.entryPoint + info.codeLength) {
              TMfPublic q = PublicAt(*m.symbols, c.target);
              if (!q.valid || q.address != p.address) continue;
            }
            int block = AddFunction(c.target, item.module, p.name + ".@label", true);
            if (Explains(block, item, how)) {
              function = block;
              explained = true;
              break;
            }
          }
        }
      }
    } else if (!m.isMain) {
      const std::vector<Address>& exports = ExportsOf(item.module);
      auto it = std::upper_bound(exports.begin(), exports.end(), examined);
      if (it != exports.begin()) {
        lookedUp = true;
        Address entry = *(it - 1);
        function = AddFunction(entry, item.module, ExportNameAt(mem, m.handle, entry, false), true);
        explained = InCodeAreas(L.functions[function], item.address) && Explains(function, item, how);
      }
    }
  }
  if (top && !explained && !lookedUp && isException && !external && v == current) {
    // No routine is known here, but the call before the location may still be a raise: show that call.
    InstructionInfo call;
    Address site = CallSiteBefore(mem, v);
    if (site != v && CallEndingAt(mem, site, v, call) && IsRaiseTarget(call.target))
      how = {true, site, true, call.target};
  }
  if (top && !explained && (!isException || external)) {
    // The top line then shows the location itself.
    how = {true, v, false, 0};
    uint8_t probe;
    if (isException && !mem.Read(v, &probe, 1)) {
      function = AddFunction(v, item.module, std::string(), false, true);
      explained = true;
    }
  }
  const bool ok = !lookedUp || explained;
  const bool onFrame = slot != 0 && frameSlots.count(slot) != 0;
  if (!(top || ok || certainFlag || onFrame)) return false;
  item.certain = top || certainFlag || onFrame;
  item.isTop = top && !creatorItem;
  if (how.known) item.callers.entries.push_back({-1, how.code, how.hasTarget, how.target, explained ? function : -1, 0});
  items.push_back(std::move(item));
  return ok;
}

// ---- collection ---------------------------------------------------------------------------------------

void WalkState::BuildFrameChain(Address ebp, const std::vector<uint32_t>& stack) {
  auto slotValue = [&](Address a, uint32_t& v) {
    if (a < bottom || a + 4 > top || (a - bottom) % 4) return mem.Read32(a, v);
    v = stack[(a - bottom) / 4];
    return true;
  };
  if (ebp + 4 > bottom && ebp + 4 < top) frameSlots.insert(ebp + 4);
  for (int guard = 0; guard < 65536 && ebp + 4 < top; ++guard) {
    uint32_t b = 0;
    if (!slotValue(ebp, b) || b <= ebp) break;
    ebp = b;
    if (b + 4 > bottom) frameSlots.insert(b + 4);
  }
}

bool WalkState::ReadStack(std::vector<uint32_t>& stack) {
  if (top <= bottom || top - bottom < 4) return false;
  uint32_t words = (top - bottom) / 4;
  if (words > (64u << 20) / 4) return false;
  stack.assign(words, 0);
  return mem.Fetch(bottom, stack.data(), size_t(words) * 4) == size_t(words) * 4;
}

void WalkState::Collect() {
  std::vector<uint32_t> stack;
  if (!ReadStack(stack)) return;
  readable = true;
  if (creator) Feed(creator, 0, false, false);
  bool topFound = !items.empty() && items.back().isTop;
  const TDAPreStackItem* pre = o.candidates;
  if (pre && !pre->empty()) {
    const uint32_t stated = (*pre)[0].address;  // packed: read by value
    const uint32_t count = std::min<uint32_t>(stated, static_cast<uint32_t>(pre->size() - 1));
    for (uint32_t i = 0; i < count && !topFound; ++i) {
      if (Aborted()) return;
      const Address value = (*pre)[i + 1].address;
      const bool certain = (*pre)[i + 1].certain != 0;
      Feed(value, 0, certain, false);
      topFound = !items.empty() && items.back().isTop;
      if (count) Progress(static_cast<int>(25 * uint64_t(i) / count));
    }
  } else {
    if (o.ebp) BuildFrameChain(o.ebp, stack);
    for (size_t i = stack.size(); i-- > 0 && !topFound;) {
      if (Aborted()) return;
      Address slot = bottom + static_cast<Address>(i) * 4;
      size_t before = items.size();
      bool fed = Feed(stack[i], slot, false, false);
      topFound = !items.empty() && items.back().isTop;
      if (fed && items.size() > before && items.back().certain && !items.back().top && i > 0) --i;
      if ((i & 255) == 0) Progress(static_cast<int>(25 * uint64_t(stack.size() - i) / stack.size()));
    }
  }
  if (!o.noTopItem && !topFound && !Aborted()) Feed(current, 0, false, true);
}

// ---- recursion removal --------------------------------------------------------------------------------

void WalkState::Hide(int i, bool unlink) {
  items[i].hidden = true;
  items[i].certain = false;
  if (unlink) Unlink(i);
}

void WalkState::Unlink(int i) {
  for (Item& it : items) {
    std::erase_if(it.callers.entries, [&](const Link& l) { return l.item == i; });
    std::erase_if(it.callees.entries, [&](const Link& l) { return l.item == i; });
  }
  items[i].callers.entries.erase(
      std::remove_if(items[i].callers.entries.begin(), items[i].callers.entries.end(),
                     [](const Link& l) { return l.item >= 0; }),
      items[i].callers.entries.end());
  items[i].callees.entries.clear();
}

void WalkState::RemoveRecursion(bool unlink) {
  for (bool changed = true; changed && !Aborted();) {
    changed = false;
    std::vector<int> v;
    for (int i = 0; i < static_cast<int>(items.size()); ++i)
      if (!items[i].hidden) v.push_back(i);
    std::map<Address, std::vector<int>> positions;
    for (int p = 0; p < static_cast<int>(v.size()); ++p) positions[items[v[p]].address].push_back(p);
    std::vector<bool> gone(v.size(), false);
    for (int p = static_cast<int>(v.size()) - 1; p >= 1; --p) {
      if (gone[p]) continue;
      const std::vector<int>& same = positions[items[v[p]].address];
      auto it = std::lower_bound(same.begin(), same.end(), p);
      // The nearest earlier visible item with the same address.
      int q = -1;
      while (it != same.begin()) {
        --it;
        if (!gone[*it]) {
          q = *it;
          break;
        }
      }
      if (q < 0) continue;
      int between = 0;
      for (int k = q + 1; k < p; ++k) between += !gone[k];
      // The blocks before q and before p, each of `between` visible items, must match address by address.
      std::vector<int> before_p, before_q;
      for (int k = p - 1; k > q && static_cast<int>(before_p.size()) < between; --k)
        if (!gone[k]) before_p.push_back(k);
      for (int k = q - 1; k >= 0 && static_cast<int>(before_q.size()) < between; --k)
        if (!gone[k]) before_q.push_back(k);
      if (static_cast<int>(before_q.size()) < between) continue;
      bool equal = true;
      for (int k = 0; k < between && equal; ++k) equal = items[v[before_p[k]]].address == items[v[before_q[k]]].address;
      if (!equal) continue;
      for (int k : before_p) gone[k] = true;
      gone[p] = true;
      changed = true;
    }
    for (size_t p = 0; p < v.size(); ++p)
      if (gone[p]) Hide(v[p], unlink);
  }
}

// ---- deep checks --------------------------------------------------------------------------------------

int WalkState::FirstApprovedCaller(const Item& item) const {
  for (size_t k = 0; k < item.callers.entries.size(); ++k) {
    int f = item.callers.entries[k].function;
    if (f >= 0 && L.functions[f].approved && !L.functions[f].invalid) return static_cast<int>(k);
  }
  return -1;
}

void WalkState::Invalidate(int function) {
  if (L.functions[function].invalid) return;
  L.functions[function].invalid = true;
  for (Item& it : items) {
    std::erase_if(it.callers.entries, [&](const Link& l) { return l.function == function; });
    std::erase_if(it.callees.entries, [&](const Link& l) { return l.function == function; });
  }
}

void WalkState::DeepChecks() {
  const int n = static_cast<int>(items.size());
  for (int i = creator ? 1 : 0; i < n; ++i) {
    if (Aborted()) return;
    Progress(25 + static_cast<int>(625 * int64_t(i) / n));
    if (items[i].hidden) continue;
    int k = FirstApprovedCaller(items[i]);
    if (k < 0) {
      int containing = -1;
      for (int f = 0; f < static_cast<int>(L.functions.size()) && containing < 0; ++f)
        if (L.functions[f].approved && !L.functions[f].invalid && InCodeAreas(L.functions[f], items[i].address))
          containing = f;
      if (containing >= 0) {
        Explanation how;
        if (!Explains(containing, items[i], how)) {
          if (!items[i].certain) Hide(i, true);
          continue;
        }
        items[i].callers.entries.push_back({-1, how.code, how.hasTarget, how.target, containing, 0});
        k = static_cast<int>(items[i].callers.entries.size()) - 1;
      }
    }
    if (k >= 0) {
      const Link approved = items[i].callers.entries[k];
      std::vector<int> wrong;
      for (const Link& l : items[i].callers.entries)
        if (l.code != approved.code && l.function >= 0 && l.function != approved.function) wrong.push_back(l.function);
      for (int f : wrong) Invalidate(f);
      ConnectForward(i, approved.hasTarget, approved.code, approved.target, true);
      continue;
    }
    RegionInfo region;
    const Address a = items[i].address;
    if (!mem.Query(a - 1, region) || !region.committed) continue;
    Address from = a >= 7 ? a - 7 : 0;
    if (from < region.regionBase) from = region.regionBase;
    for (Address at = from; at + 2 <= a && at >= from; ++at) {
      InstructionInfo info;
      if (!CallEndingAt(mem, at, a, info)) continue;
      bool hasTarget = info.targetOperandSize != 0 || info.targetSlotAddress != 0;
      ConnectForward(i, hasTarget && info.target != 0 && info.valid, at, info.target, false);
    }
  }
}

void WalkState::ConnectForward(int q, bool hasTarget, Address code, Address target, bool approve) {
  int function = -1;
  if (hasTarget) {
    int module = ModuleOf(target);
    function = AddFunction(target, module, RoutineNameAt(target, module), approve);
    bool jumpsAway = false;
    for (const UnresolvedBranch& u : L.functions[function].info.unresolvedBranches)
      if (!u.isCall) jumpsAway = true;
    if (jumpsAway) ConnectForward(q, false, code, 0, approve);
    if (L.functions[function].invalid) return;
  } else {
    for (const Link& l : items[q].callees.entries)
      if (l.function < 0) return;
  }
  const int n = static_cast<int>(items.size());
  for (int i = q + 1; i < n; ++i) {
    if (Aborted()) return;
    Item& it = items[i];
    if (it.hidden) continue;
    Explanation how;
    bool fits;
    if (function < 0) {
      fits = true;
      for (const Link& l : it.callers.entries)
        if (l.item < 0) {
          how = {true, l.code, l.hasTarget, l.target};
          break;
        }
    } else {
      fits = Explains(function, it, how);
    }
    if (fits) {
      bool conflict = false;
      if (!approve)
        for (const Link& l : it.callers.entries)
          if (l.function >= 0 && L.functions[l.function].approved && !L.functions[l.function].invalid &&
              l.code != how.code)
            conflict = true;
      bool present = false;
      for (const Link& l : it.callers.entries)
        if (l.item == q && l.function == function && l.code == how.code) present = true;
      if (!conflict && !present) {
        it.callers.entries.push_back({q, how.code, how.hasTarget, how.target, function, 0});
        items[q].callees.entries.push_back({i, code, hasTarget, target, function, 0});
      }
    }
    if (it.certain) break;
  }
}

// ---- chain selection ----------------------------------------------------------------------------------

bool WalkState::HasLine(int item) {
  const Item& it = items[item];
  if (it.module < 0 || !L.modules[it.module].symbols) return false;
  return LineAt(*L.modules[it.module].symbols, it.address - 1).line != 0;
}

int64_t WalkState::Score(int f, int t, bool direct, int depth) {
  if (Aborted()) return kNoPath;
  LinkList& list = t > f ? items[f].callees : items[f].callers;
  int64_t best = kNoPath;
  int bestIndex = -1;
  for (size_t k = 0; k < list.entries.size(); ++k) {
    if (Aborted()) break;
    Link& link = list.entries[k];
    if (link.item < 0) continue;
    if (!link.score) {
      int64_t s;
      if (link.item == t) {
        s = Upper(link.function >= 0 ? 0x70000000 : 0x50000000);
      } else if (depth > 4096) {
        s = kNoPath;
      } else {
        s = Score(link.item, t, direct && link.function >= 0, depth + 1);
        if (Aborted()) break;
      }
      int c;
      if (link.function < 0) {
        c = 0;
        s = static_cast<int64_t>(static_cast<uint64_t>(s) & ~(uint64_t(kAllFunctions) << 32));
      } else {
        c = 14;
        if (direct || (HighOf(s) & kAllFunctions)) c += 14;
        if (L.functions[link.function].approved) c += 14;
      }
      const Item& from = items[f];
      const Item& to = items[link.item];
      if (from.module >= 0 && to.module >= 0 && L.modules[from.module].symbols) {
        c += 3;
        if (HasLine(f)) {
          c += 3;
          if (L.modules[to.module].symbols && HasLine(link.item)) c += 3;
        }
      }
      link.score = static_cast<int64_t>(static_cast<uint64_t>(s) + (uint64_t(1) << c));
    }
    if (link.score > best) {
      best = link.score;
      bestIndex = static_cast<int>(k);
    }
  }
  list.best = bestIndex;
  return best;
}

void WalkState::Select(int lo, int hi) {
  if (hi - lo < 2) return;
  int64_t forward = lo < 0 ? 0 : Score(lo, hi, true, 0);
  int64_t backward = (HighOf(forward) & kReachedTarget) ? 0 : Score(hi, lo, true, 0);
  for (int i = lo + 1; i < hi; ++i) items[i].hidden = true;
  // Follow the best links from one end towards the other, showing every item on the way.
  const bool down = forward > backward;
  for (int cur = down ? lo : hi, guard = 0; cur != (down ? hi : lo) && guard <= hi - lo; ++guard) {
    const LinkList& links = down ? items[cur].callees : items[cur].callers;
    if (links.best < 0 || links.best >= static_cast<int>(links.entries.size())) break;
    cur = links.entries[links.best].item;
    if (cur < 0) break;
    items[cur].hidden = false;
  }
}

void WalkState::SelectChains() {
  const int n = static_cast<int>(items.size());
  if (n == 0) return;
  Progress(650);
  int c = n - 1;
  for (int i = n - 2; i >= 0; --i) {
    if (Aborted()) return;
    if (!items[i].certain || items[i].hidden) continue;
    Select(i, c);
    c = i;
    Progress(650 + static_cast<int>(350 * int64_t(n - 1 - i) / n));
  }
  Select(-1, c);
}

// ---- final output -------------------------------------------------------------------------------------

void WalkState::FillOutput() {
  Progress(1000);
  bool first = true;
  for (int i = static_cast<int>(items.size()) - 1; i >= 0; --i) {
    if (Aborted()) return;
    Item& it = items[i];
    if (it.hidden) continue;
    Address display = 0;
    bool found = false;
    int k = FirstApprovedCaller(it);
    if (k >= 0) {
      const Link& l = it.callers.entries[k];
      display = l.code;
      const FunctionEntry& f = L.functions[l.function];
      it.routine = f.name;
      it.unit.clear();
      if (!it.routine.empty()) DemangleName(it.routine, it.unit);
      it.routineStart = f.info.entryPoint;
      found = true;
    }
    if (!found)
      for (const Link& l : it.callers.entries)
        if (l.code) {
          display = l.code;
          found = true;
          break;
        }
    if (!found && it.callees.best >= 0 && it.callees.best < static_cast<int>(it.callees.entries.size())) {
      display = it.callees.entries[it.callees.best].code;
      found = display != 0;
    }
    if (!found) display = it.top ? it.raw : it.address;
    it.display = display;
    int module = it.module >= 0 ? it.module : -1;
    if (module < 0 && display != it.address) module = ModuleOf(display);
    it.moduleName = module >= 0 ? L.modules[module].fileName : "???";
    if (module >= 0 && L.modules[module].symbols) {
      const TMapFile& map = *L.modules[module].symbols;
      if (it.routine.empty()) {
        TMfPublic p = PublicAt(map, display);
        if (p.valid) {
          it.routine = p.name;
          it.routineStart = p.address;
        }
      }
      TMfSegment s = SegmentAt(map, true, display);
      it.unit = s.valid ? s.unit : std::string();
      int32_t line = LineAt(map, display).line;
      it.line = line > 0 ? line : 0;
      if (o.showRelLines && it.line > 0 && it.routineStart) {
        int32_t routineLine = LineAt(map, it.routineStart).line;
        if (routineLine > 0) it.relLine = it.line - routineLine;
      }
      if (!map.minimalFingerprint.empty()) {
        std::string id = L.modules[module].fileName + "|" + map.minimalFingerprint;
        bool have = false;
        for (const std::string& s : result.minimalIds) have = have || EqualTextCI(s, id);
        if (!have) result.minimalIds.push_back(id);
      }
    }
    if (first) {
      result.firstShownAddress = display;
      first = false;
    }
  }
}

// ---- the walk -----------------------------------------------------------------------------------------

WalkState::WalkState(TStackWalker::Lists& lists, const WalkerEnvironment& environment, const TraceOptions& options,
                     TraceResult& out)
    : L(lists), env(environment), mem(*environment.memory), o(options), result(out) {
  isException = o.isException;
  external = o.externalException;
  creator = o.creatorAddress;
  current = o.currentAddress ? o.currentAddress : (o.isException ? 0 : env.callerReturnAddress);
  top = o.stackTop ? o.stackTop : env.stackBase;
  bottom = o.stackBottom ? o.stackBottom : env.stackPointer;
}

void WalkState::Progress(int position) {
  if (o.progress) o.progress(position);
}

bool WalkState::Aborted() const { return o.abort && *o.abort; }

}  // namespace rvx
