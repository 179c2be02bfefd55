// Finding every byte range of a function: following jumps, case tables, exception frames and handler
// blocks, collecting the calls that leave it.
#include "crash/stack/function_analyser.h"

#include <algorithm>
#include <map>

#include "crash/stack/module.h"
#include "crash/stack/text.h"

namespace rvx {
namespace {

constexpr uint32_t kOptionalHeader = 0x18;
constexpr uint32_t kGapLimit = 1023;

const char* const kInvalidParameterText = "The parameter is incorrect. ";

// The range of the module's code and data in which jumps are followed (start inclusive, end exclusive).
bool ModuleCodeRange(const MemoryReader& memory, Address entry, Address& lo, Address& hi) {
  ModuleRanges r;
  if (!ModuleRangesAt(memory, entry, r)) return false;
  uint64_t l = r.codeStart, h = r.codeEnd;
  if (r.dataEnd > r.dataStart) {
    l = std::min<uint64_t>(l, r.dataStart);
    h = std::max<uint64_t>(h, r.dataEnd);
  }
  lo = static_cast<Address>(l);
  hi = static_cast<Address>(h);
  return hi > lo;
}

class Analyser {
 public:
  Analyser(const MemoryReader& memory, const AnalysisOptions& options, TFunctionInfo& fi)
      : mem_(memory), opt_(options), fi_(fi) {}

  bool Run(Address entry);

 private:
  enum Special { kNone, kAny, kOn, kAuto, kFinally, kHalt };
  Special SpecialOf(Address target) const {
    const RuntimeRoutines& r = opt_.routines;
    if (!target) return kNone;
    if (target == r.handleAnyException) return kAny;
    if (target == r.handleOnException) return kOn;
    if (target == r.handleAutoException) return kAuto;
    if (target == r.handleFinally) return kFinally;
    if (target == r.halt) return kHalt;
    return kNone;
  }
  bool InRange(Address a) const { return a >= lo_ && a < hi_; }
  void AddArea(Address at, Address caller, const RegisterState& regs);
  void AddTable(Address at, uint32_t size, bool caseTable, Address caller);
  bool ParseArea(size_t index);
  // Handles a call or jump; sets endArea for the routines that end it.
  void Branch(const DecodedInstruction& d, const RegisterState& regs, bool& endArea, bool& tableFollows);
  void RecordFarCall(const InstructionInfo& info);
  int FirstUnparsed() const {
    for (size_t i = 0; i < fi_.codeAreas.size(); ++i)
      if (!fi_.codeAreas[i].end && !fi_.codeAreas[i].isCaseTable && !fi_.codeAreas[i].isExceptionTable)
        return static_cast<int>(i);
    return -1;
  }
  bool ParseAll();

  // The bound of a case index, known from a compare and its conditional jump or from a mask.
  struct Bound {
    int reg = -1;    // register that holds the index
    int alias = -1;  // a register holding it zero-extended
    int64_t count = -1;
    int quiet = 0;   // instructions since the bound
  };
  static constexpr int kMemoryOperand = 8;
  struct CaseState {
    int compareReg = -1;  // compare waiting for its conditional jump (kMemoryOperand: compared memory)
    int compareAlias = -1;
    int64_t compareBound = 0;
    DecodedInstruction compareMemory{};
    int widenSource = -1, widenDest = -1;  // the last "movzx r32, r8"
    Bound bounded;
  };
  // Follows the case-table pattern through one instruction; true when it was the table jump.
  bool CaseStep(const DecodedInstruction& d, const RegisterState& before, CaseState& cs);
  bool TableJump(const DecodedInstruction& d, const Bound& b, const RegisterState& regs);
  std::map<Address, Bound> bounds_;  // bounds that hold at the start of areas reached by a branch

  bool Fail(Address at) {
    failAddress_ = at;
    return false;
  }

  const MemoryReader& mem_;
  const AnalysisOptions& opt_;
  TFunctionInfo& fi_;
  Address lo_ = 0, hi_ = 0;
  Address entry_ = 0;
  size_t current_ = 0;
  Address failAddress_ = 0;
};

void Analyser::AddArea(Address at, Address caller, const RegisterState& regs) {
  auto& areas = fi_.codeAreas;
  for (CodeArea& a : areas) {
    if (a.start != at) continue;
    if (caller && (!a.caller || (a.caller < caller && caller < at) || (at < caller && caller < a.caller)))
      a.caller = caller;
    a.registers.MergeWith(regs);
    return;
  }
  for (size_t i = 0; i < areas.size(); ++i) {
    CodeArea& a = areas[i];
    if (a.isCaseTable || a.isExceptionTable || !a.end || at <= a.start || at > a.end) continue;
    CodeArea split;
    split.start = at;
    split.end = a.end;
    split.caller = caller;
    split.registers = regs;
    split.registers.MergeWith(a.registers);
    a.end = at - 1;
    areas.push_back(split);
    if (i == current_) current_ = areas.size() - 1;
    return;
  }
  CodeArea fresh;
  fresh.start = at;
  fresh.caller = caller;
  fresh.registers = regs;
  if (areas.size() == areas.capacity()) areas.reserve(areas.empty() ? 8 : areas.capacity() * 2);
  areas.push_back(fresh);
}

void Analyser::AddTable(Address at, uint32_t size, bool caseTable, Address caller) {
  for (const CodeArea& a : fi_.codeAreas)
    if (a.start == at) return;
  CodeArea t;
  t.start = at;
  t.end = at + size - 1;
  t.isCaseTable = caseTable;
  t.isExceptionTable = !caseTable;
  t.caller = caller;
  fi_.codeAreas.push_back(t);
}

void Analyser::RecordFarCall(const InstructionInfo& info) {
  for (const FarCall& f : fi_.farCalls)
    if (f.nextInstruction == info.nextInstruction) return;
  FarCall f;
  f.isCall = info.isCall;
  f.instructionStart = info.instructionStart;
  f.nextInstruction = info.nextInstruction;
  f.target = info.target;
  f.targetIsRelative = info.targetIsRelative;
  f.targetOperandAddress = info.targetOperandAddress;
  f.targetSlotAddress = info.targetSlotAddress;
  // An import thunk resolves to the imported function.
  uint8_t first = 0;
  if (mem_.Read(info.target, &first, 1) &&
      (first == 0xE9 || first == 0xEB || first == 0xFF || first == 0x02 || first == 0x03)) {
    InstructionInfo thunk;
    if (DecodeInstruction(mem_, info.target, thunk) && thunk.target) {
      ModuleInfo m1, m2;
      bool firstNamed = mem_.Module(info.target, m1) && !ExportNameAt(mem_, m1.base, info.target, false).empty();
      bool secondNamed = mem_.Module(thunk.target, m2) && !ExportNameAt(mem_, m2.base, thunk.target, false).empty();
      if (!firstNamed && secondNamed) f.target = thunk.target;
    }
  }
  if (f.targetSlotAddress) fi_.copyInfo.bufferSize += 4;
  fi_.farCalls.push_back(f);
}

void Analyser::Branch(const DecodedInstruction& d, const RegisterState& regs, bool& endArea, bool& tableFollows) {
  const InstructionInfo& info = d.info;
  auto& unresolved = fi_.unresolvedBranches;
  if (!info.targetOperandSize) {
    for (const UnresolvedBranch& u : unresolved)
      if (u.instructionStart == info.instructionStart) return;
    unresolved.push_back({info.isCall, info.instructionStart, info.nextInstruction});
    return;
  }
  for (size_t i = 0; i < unresolved.size(); ++i) {
    if (unresolved[i].instructionStart == info.instructionStart) {
      unresolved[i] = unresolved.back();
      unresolved.pop_back();
      break;
    }
  }
  const Special special = SpecialOf(info.target);
  switch (special) {
    case kAny:
      AddArea(info.nextInstruction, 0, regs);
      break;
    case kOn: {
      uint32_t count = 0;
      if (mem_.Read32(info.nextInstruction, count) && count < 1024) {
        AddTable(info.nextInstruction, 4 + 8 * count, false, info.instructionStart);
        for (uint32_t i = 0; i < count; ++i) {
          uint32_t handler = 0;
          if (mem_.Read32(info.nextInstruction + 8 + 8 * i, handler) && handler) AddArea(handler, 0, RegisterState{});
        }
        tableFollows = true;
      }
      break;
    }
    case kFinally: {
      AddArea(info.nextInstruction, 0, regs);
      InstructionInfo back;
      uint8_t push = 0;
      uint32_t pushed = 0;
      if (DecodeInstruction(mem_, info.nextInstruction, back) && back.isJump && back.target > entry_ &&
          back.target < info.instructionStart && mem_.Read(back.target - 5, &push, 1) && push == 0x68 &&
          mem_.Read32(back.target - 4, pushed) && pushed > entry_)
        AddArea(pushed, 0, RegisterState{});
      break;
    }
    case kHalt:
      endArea = true;
      break;
    default:
      break;
  }
  if (info.targetOperandSize == 4 && (info.isCall || !InRange(info.target) || special != kNone)) {
    RecordFarCall(info);
  } else {
    AddArea(info.target, info.instructionStart, regs);
  }
}

bool Analyser::TableJump(const DecodedInstruction& d, const Bound& b, const RegisterState& regs) {
  const InstructionInfo& info = d.info;
  const int64_t count = b.count;
  if (count <= 0 || count > 4096) return false;
  const Address table = static_cast<Address>(d.disp);
  if (table == info.nextInstruction) {
    for (int64_t i = 0; i < count; ++i) {
      uint32_t target = 0;
      if (mem_.Read32(table + 4 * uint32_t(i), target)) AddArea(target, info.instructionStart, regs);
    }
    AddTable(table, 4 * uint32_t(count), true, info.instructionStart);
    return true;
  }
  // A table in a data section (our compiler): every entry must point into the module's code.
  std::vector<uint32_t> targets;
  for (int64_t i = 0; i < count; ++i) {
    uint32_t target = 0;
    if (!mem_.Read32(table + 4 * uint32_t(i), target) || !InRange(target)) return false;
    targets.push_back(target);
  }
  for (uint32_t t : targets) AddArea(t, info.instructionStart, regs);
  return true;
}

bool Analyser::CaseStep(const DecodedInstruction& d, const RegisterState& before, CaseState& cs) {
  const uint16_t op = d.info.opcode;
  const bool regForm = d.hasModrm && d.mod == 3;
  Bound& b = cs.bounded;

  // A bounded index: the table jump, a widening or reload of the index, or anything that leaves it alone.
  if (b.count >= 0) {
    const bool tableJump = op == 0xFF && d.reg == 4 && d.IsMemory() && d.scale == 4 && d.base < 0 &&
                           d.index >= 0 && (d.index == b.reg || d.index == b.alias) && d.dispSize == 4;
    if (tableJump) {
      RegisterState regs = before;
      TrackRegisterEffects(d, regs);
      bool found = TableJump(d, b, regs);
      b = Bound{};
      cs.compareReg = -1;
      return found;
    }
    const bool widening = (op == 0x0FB6 || op == 0x0FB7) && regForm && d.rm == b.reg && !d.prefix66;
    const bool load = b.reg == kMemoryOperand && (op == 0x0FB6 || op == 0x0FB7 || op == 0x8B) && d.IsMemory() &&
                      d.base == cs.compareMemory.base && d.index == cs.compareMemory.index &&
                      d.scale == cs.compareMemory.scale && d.disp == cs.compareMemory.disp &&
                      d.segment == cs.compareMemory.segment;
    if (widening || load) {
      b.reg = d.reg;
      b.alias = -1;
    } else {
      // Which registers does the instruction write? Apply it to distinct markers and look.
      RegisterState probe;
      for (int i = 0; i < 8; ++i) probe.entry[i] = 0xFFFFFF00u + static_cast<Address>(i);
      TrackRegisterEffects(d, probe);
      auto written = [&](int r) { return r >= 0 && r < 8 && probe.entry[r] != 0xFFFFFF00u + static_cast<Address>(r); };
      const bool stop = op == 0xC3 || op == 0xC2 || op == 0xE9 || op == 0xEB || (op == 0xFF && d.reg >= 2);
      if (written(b.reg)) b.reg = -1;
      if (written(b.alias)) b.alias = -1;
      if (stop || ++b.quiet > 16 || (b.reg < 0 && b.alias < 0)) {
        b = Bound{};
      } else if (d.info.isJump && d.info.targetIsRelative && d.info.target) {
        bounds_[d.info.target] = b;
      }
    }
  }

  // A compare waiting for its conditional jump.
  if (cs.compareReg >= 0) {
    int64_t count = -1;
    switch (op) {
      case 0x77: case 0x7F: case 0x0F87: case 0x0F8F: count = cs.compareBound + 1; break;
      case 0x73: case 0x7D: case 0x0F83: case 0x0F8D: count = cs.compareBound; break;
      default: break;
    }
    if (count >= 0) b = Bound{cs.compareReg, cs.compareAlias, count, 0};
    cs.compareReg = -1;
  }

  // New compares and masks.
  const int widenedSource = cs.widenSource, widenedDest = cs.widenDest;
  cs.widenSource = cs.widenDest = -1;
  if (op == 0x0FB6 && regForm && d.rm < 4 && !d.prefix66) {
    cs.widenSource = d.rm;
    cs.widenDest = d.reg;
  }
  int reg = -1;
  int64_t bound = 0;
  if ((op == 0x83 || op == 0x81) && regForm && d.reg == 7) {
    reg = d.rm;
    bound = d.prefix66 ? static_cast<uint16_t>(d.imm) : d.imm;
  } else if (op == 0x80 && regForm && d.reg == 7 && d.rm < 4) {
    reg = d.rm;  // cmp r8, imm8 with an unsigned byte bound
    bound = static_cast<uint8_t>(d.imm);
  } else if ((op == 0x80 || op == 0x83) && d.IsMemory() && d.reg == 7 && !d.prefix66 && !d.prefix67) {
    reg = kMemoryOperand;
    cs.compareMemory = d;
    bound = op == 0x80 ? static_cast<uint8_t>(d.imm) : d.imm;
  } else if (op == 0x3C) {
    reg = 0;
    bound = static_cast<uint8_t>(d.imm);
  } else if (op == 0x3D && !d.prefix66) {
    reg = 0;
    bound = d.imm;
  } else if ((op == 0x83 || op == 0x80) && regForm && d.reg == 4 && d.imm >= 0 && d.imm < 4096 &&
             ((d.imm + 1) & d.imm) == 0 && (op == 0x83 || d.rm < 4)) {
    // and reg, 2^k - 1: the index is bounded by the mask itself.
    b = Bound{d.rm, -1, d.imm + 1, 0};
  }
  if (reg >= 0) {
    cs.compareReg = reg;
    cs.compareBound = bound;
    cs.compareAlias = widenedSource == reg ? widenedDest : -1;
  }
  return false;
}

bool Analyser::ParseArea(size_t index) {
  current_ = index;
  Address a = fi_.codeAreas[index].start;
  RegisterState regs = fi_.codeAreas[index].registers;
  Address limit = hi_;
  for (const CodeArea& o : fi_.codeAreas)
    if (o.start > a && o.start < limit) limit = o.start;
  Address pushedHandler = 0;
  bool pushPending = false;
  CaseState cases;
  if (auto it = bounds_.find(a); it != bounds_.end()) cases.bounded = it->second;
  bool sawFirst = false;
  for (;;) {
    if (a >= limit && (sawFirst || a >= hi_)) return Fail(a);
    sawFirst = true;
    DecodedInstruction d;
    const RegisterState before = regs;
    if (!DecodeDetailed(mem_, a, d, &regs, true)) {
      // Our compiler ends paths that cannot be reached with a trap (ud2); it ends the area like a return.
      uint8_t trap[2] = {};
      if (mem_.Read(a, trap, 2) && trap[0] == 0x0F && trap[1] == 0x0B) {
        fi_.codeAreas[current_].end = a + 1;
        return true;
      }
      return Fail(a);
    }
    const InstructionInfo& info = d.info;
    fi_.codeAreas[current_].end = info.nextInstruction - 1;
    const uint16_t op = info.opcode;
    if (op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF) return true;

    // Exception frames: push handler; push dword ptr fs:[reg] (or fs:[0]).
    if (pushPending) {
      bool frame = d.segment == 4 && op == 0xFF && d.reg == 6 && d.IsMemory() &&
                   ((d.length == 3 && d.mod == 0 && d.base >= 0 && d.base != 5 && d.index < 0 && d.base != 4 &&
                     !before.entry[d.base]) ||
                    (d.length == 7 && d.base < 0 && d.index < 0 && d.disp == 0));
      if (frame) AddArea(pushedHandler, 0, RegisterState{});
      pushPending = false;
    }
    if (op == 0x68 && d.length == 5) {
      uint8_t nextByte = 0;
      if (mem_.Read(info.nextInstruction, &nextByte, 1) && nextByte == 0x64) {
        pushedHandler = static_cast<Address>(d.imm);
        pushPending = true;
      }
    }

    // Case tables: a bound (cmp reg, n; ja/jae — or and reg, 2^k-1), then jmp [reg*4 + table].
    bool caseTable = CaseStep(d, before, cases);

    bool endArea = caseTable;
    bool tableFollows = false;
    if ((info.isCall || info.isJump) && !caseTable) Branch(d, regs, endArea, tableFollows);
    if (tableFollows) return true;
    const bool unconditional = op == 0xE9 || op == 0xEA || op == 0xEB || (op == 0xFF && (d.reg == 4 || d.reg == 5));
    if (endArea || unconditional) return true;
    // Splitting may have moved the area being parsed.
    limit = hi_;
    const Address here = fi_.codeAreas[current_].start;
    for (const CodeArea& o : fi_.codeAreas)
      if (o.start > here && o.start < limit) limit = o.start;
    if (!(regs == before) || info.nextInstruction >= limit) {
      if (cases.bounded.count >= 0) bounds_[info.nextInstruction] = cases.bounded;
      if (info.nextInstruction <= hi_) AddArea(info.nextInstruction, 0, regs);
      if (info.nextInstruction >= hi_) return Fail(info.nextInstruction);
      return true;
    }
    a = info.nextInstruction;
  }
}

bool Analyser::ParseAll() {
  for (int i = FirstUnparsed(); i >= 0; i = FirstUnparsed())
    if (!ParseArea(static_cast<size_t>(i))) return false;
  return true;
}

bool Analyser::Run(Address entry) {
  entry_ = entry;
  fi_ = TFunctionInfo{};
  fi_.entryPoint = entry;
  fi_.copyInfo.valid = 1;
  fi_.codeAreas.reserve(8);
  if (!ModuleCodeRange(mem_, entry, lo_, hi_)) {
    fi_.lastErrorAddress = entry;
    fi_.lastErrorNumber = kErrorInvalidParameter;
    fi_.lastErrorText = kInvalidParameterText;
    return false;
  }
  AddArea(entry, 0, RegisterState{});
  std::vector<Address> pads = opt_.landingPads;
  if (pads.empty() && opt_.findLandingPads) {
    RegionInfo region;
    if (mem_.Query(entry, region)) pads = LandingPadsOf(mem_, region.allocationBase, entry);
  }
  for (Address p : pads)
    if (InRange(p)) AddArea(p, 0, RegisterState{});

  bool ok = true;
  for (int round = 0; ok; ++round) {
    if (!ParseAll()) {
      ok = false;
      break;
    }
    // Branches whose target was unknown get another chance with the registers known at their area's start.
    bool added = false;
    for (size_t i = fi_.unresolvedBranches.size(); i-- > 0 && !added;) {
      const UnresolvedBranch u = fi_.unresolvedBranches[i];
      for (const CodeArea& area : fi_.codeAreas) {
        if (area.isCaseTable || area.isExceptionTable || u.instructionStart < area.start || u.instructionStart > area.end)
          continue;
        RegisterState regs = area.registers;
        Address a = area.start;
        DecodedInstruction d;
        bool found = false;
        while (a <= u.instructionStart && DecodeDetailed(mem_, a, d, &regs, a != u.instructionStart)) {
          if (a == u.instructionStart) {
            found = true;
            break;
          }
          a = d.info.nextInstruction;
        }
        if (found && d.info.targetOperandSize) {
          size_t before = fi_.codeAreas.size();
          bool endArea = false, tableFollows = false;
          Branch(d, regs, endArea, tableFollows);
          added = FirstUnparsed() >= 0 || fi_.codeAreas.size() != before;
        }
        break;
      }
    }
    if (added) continue;
    bool jumpLeft = false;
    for (const UnresolvedBranch& u : fi_.unresolvedBranches)
      if (!u.isCall) jumpLeft = true;
    if (!jumpLeft || round > 10000) break;
    // Fill the first gap after the contiguous code.
    Address begin = 0xFFFFFFFF, highest = 0;
    for (const CodeArea& a : fi_.codeAreas) {
      begin = std::min(begin, a.start);
      highest = std::max(highest, a.end);
    }
    Address chainEnd = begin - 1;
    for (bool more = true; more;) {
      more = false;
      for (const CodeArea& a : fi_.codeAreas)
        if (a.start == chainEnd + 1 && a.end) {
          chainEnd = a.end;
          more = true;
        }
    }
    if (chainEnd >= highest || highest - chainEnd > kGapLimit) break;
    TFunctionInfo saved = fi_;
    AddArea(chainEnd + 1, 0, RegisterState{});
    if (!ParseAll()) {
      fi_ = saved;
      break;
    }
  }
  if (!ok) {
    fi_.valid = 0;
    fi_.lastErrorAddress = failAddress_;
    fi_.lastErrorNumber = kErrorInvalidCode;
    fi_.lastErrorText = "Invalid code!";
    return false;
  }
  fi_.valid = 1;
  Address begin = 0xFFFFFFFF, highest = 0;
  for (const CodeArea& a : fi_.codeAreas) {
    begin = std::min(begin, a.start);
    highest = std::max(highest, a.end);
  }
  fi_.codeBegin = begin;
  fi_.codeLength = highest - begin + 1;
  fi_.copyInfo.bufferSize += fi_.codeLength + 4;

  // Patchable: at least 6 contiguous bytes from the entry, and no short branch among the first instructions.
  uint32_t sum = 0;
  Address next = entry;
  for (bool more = true; more;) {
    more = false;
    for (const CodeArea& a : fi_.codeAreas) {
      if (a.start != next || a.isCaseTable || a.isExceptionTable || (a.caller && a.start != entry)) continue;
      sum += a.end - a.start + 1;
      next = a.end + 1;
      more = true;
      break;
    }
  }
  if (sum > 5) {
    fi_.patchable = 1;
    for (Address a = entry; a < entry + 6;) {
      InstructionInfo info;
      if (!DecodeInstruction(mem_, a, info)) break;
      if ((info.isCall || info.isJump) && info.targetOperandSize && !info.widenable && info.targetOperandSize != 4)
        fi_.patchable = 0;
      a = info.nextInstruction;
    }
  }
  return true;
}

}  // namespace

bool ModuleRangesAt(const MemoryReader& memory, Address address, ModuleRanges& out) {
  out = ModuleRanges{};
  RegionInfo region;
  if (!memory.Query(address, region) || !region.committed) return false;
  const Address base = region.allocationBase;
  Address nt = PeNtHeaders(memory, base);
  if (!nt) {
    out.codeStart = region.regionBase;
    out.codeEnd = static_cast<Address>(std::min<uint64_t>(uint64_t(region.regionBase) + region.regionSize, 0xFFFFFFFF));
    return true;
  }
  out.hasHeaders = true;
  std::vector<SectionHeader> sections = PeSections(memory, nt);
  uint32_t opt[7] = {};
  memory.Read(nt + kOptionalHeader, opt, sizeof opt);
  // opt[1] SizeOfCode, opt[2] SizeOfInitializedData, opt[3] SizeOfUninitializedData, opt[5] BaseOfCode,
  // opt[6] BaseOfData.
  uint64_t l, h;
  if (!sections.empty() && (sections[0].characteristics & kSectionCode)) {
    l = base + uint64_t(sections[0].virtualAddress);
    h = l + sections[0].virtualSize;
    if (sections.size() > 1 && (sections[1].characteristics & kSectionCode))
      h = base + uint64_t(sections[1].virtualAddress) + sections[1].virtualSize;
  } else {
    l = base + uint64_t(opt[5]);
    h = l + opt[1];
  }
  auto clamp = [](uint64_t v) { return static_cast<Address>(std::min<uint64_t>(v, 0xFFFFFFFF)); };
  out.codeStart = clamp(l);
  out.codeEnd = clamp(h);
  if (PeOptionalMagic(memory, nt) == kPe32Magic && opt[6]) {
    uint64_t dl = base + uint64_t(opt[6]);
    uint64_t dh = dl + opt[2] + opt[3];
    if (dh > dl) {
      out.dataStart = clamp(dl);
      out.dataEnd = clamp(dh);
    }
  }
  return true;
}

namespace {

RuntimeRoutines& OwnRoutinesSlot() {
  static RuntimeRoutines routines;
  return routines;
}

}  // namespace

void SetOwnRuntimeRoutines(const RuntimeRoutines& routines) { OwnRoutinesSlot() = routines; }
const RuntimeRoutines& OwnRuntimeRoutines() { return OwnRoutinesSlot(); }

RuntimeRoutines WithOwnRoutines(RuntimeRoutines r) {
  const RuntimeRoutines& own = OwnRuntimeRoutines();
  if (!r.handleAnyException) r.handleAnyException = own.handleAnyException;
  if (!r.handleOnException) r.handleOnException = own.handleOnException;
  if (!r.handleAutoException) r.handleAutoException = own.handleAutoException;
  if (!r.handleFinally) r.handleFinally = own.handleFinally;
  if (!r.halt) r.halt = own.halt;
  return r;
}

bool AnalyseFunction(const MemoryReader& memory, Address entry, const AnalysisOptions& options, TFunctionInfo& out) {
  AnalysisOptions effective = options;
  effective.routines = WithOwnRoutines(options.routines);
  Analyser analyser(memory, effective, out);
  return analyser.Run(entry);
}

std::string AddressTextOf(Address address) { return AddressText(address, false); }

#ifdef _WIN32
bool AnalyseFunction(Address entry, const TDATryRead* snapshot, const RuntimeRoutines& routines, TFunctionInfo& out) {
  ProcessReader reader(snapshot);
  AnalysisOptions options;
  options.routines = routines;
  return AnalyseFunction(reader, entry, options, out);
}

void DisassembleFunction(Address entry, std::string& text, Address exceptionAddress, TFunctionInfo& info,
                         bool autoDelimiters, uint32_t lineLimit) {
  ProcessReader reader;
  DisassembleFunction(reader, entry, text, exceptionAddress, info, autoDelimiters, lineLimit);
}
#endif

}  // namespace rvx
