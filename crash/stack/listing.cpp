// The disassembly listing of an analysed function: labels, case and exception tables, delimiters, source
// line numbers, the exception marker and the line limit.
#include <algorithm>

#include "crash/stack/function_analyser.h"
#include "crash/stack/module.h"
#include "crash/stack/text.h"

namespace rvx {
namespace {

const char* const kSeparator = "; ---------------------------------------------------------";

struct Line {
  Address address;
  std::string text;     // without the address
  bool label = false;   // label lines get no line number
  bool instruction = false;
};

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += static_cast<char>(c & 0xFF);
  return s;
}

// The class name of a class reference: the framework keeps a pointer to its short-string name 44 bytes
// before the reference.
std::string ClassName(const MemoryReader& memory, Address classRef) {
  uint32_t namePtr = 0;
  uint8_t length = 0;
  char buf[256];
  if (!memory.Read32(classRef - 44, namePtr) || !memory.Read(namePtr, &length, 1) || length == 0 ||
      !memory.Read(namePtr + 1, buf, length))
    return "EUnknown";
  for (int i = 0; i < length; ++i)
    if (static_cast<unsigned char>(buf[i]) < 0x20) return "EUnknown";
  return std::string(buf, length);
}

class Lister {
 public:
  Lister(const MemoryReader& memory, const TFunctionInfo& info, const AnalysisOptions& options, bool delimiters)
      : mem_(memory), fi_(info), opt_(options), delimiters_(delimiters) {}

  bool Build(std::vector<Line>& lines);

 private:
  std::string LabelOf(const CodeArea& area) const {
    if (area.start == fi_.entryPoint) return functionLabel_;
    return "loc_" + AddressText(area.start, false);
  }
  const CodeArea* AreaAt(Address a) const {
    for (const CodeArea& c : fi_.codeAreas)
      if (c.start == a && !c.isCaseTable && !c.isExceptionTable) return &c;
    return nullptr;
  }
  void Blank(Address a) { out_->push_back({a, ""}); }
  void Separator(Address a) {
    Blank(a);
    out_->push_back({a, kSeparator});
    Blank(a);
    separated_ = true;
    sinceSeparator_ = false;
  }

  const MemoryReader& mem_;
  const TFunctionInfo& fi_;
  const AnalysisOptions& opt_;
  bool delimiters_;
  std::string functionLabel_;
  std::vector<Line>* out_ = nullptr;
  bool separated_ = true;
  bool sinceSeparator_ = false;
};

bool Lister::Build(std::vector<Line>& lines) {
  out_ = &lines;
  ModuleInfo m;
  std::string name;
  if (mem_.Module(fi_.entryPoint, m)) name = ExportNameAt(mem_, m.base, fi_.entryPoint, true);
  if (name.empty() && FunctionNameResolver()) name = Narrow(FunctionNameResolver()(fi_.entryPoint));
  functionLabel_ = name.empty() ? "sub_" + AddressText(fi_.entryPoint, false) : "public " + name;

  std::vector<const CodeArea*> order;
  Address from = 0;
  bool first = true;
  while (order.size() < fi_.codeAreas.size()) {
    const CodeArea* best = nullptr;
    for (const CodeArea& c : fi_.codeAreas)
      if ((first || c.start >= from) && (!best || c.start < best->start)) best = &c;
    if (!best) return false;
    order.push_back(best);
    from = best->end + 1;
    first = false;
  }

  for (size_t k = 0; k < order.size(); ++k) {
    const CodeArea& area = *order[k];
    const bool more = k + 1 < order.size();
    if (area.isCaseTable || area.isExceptionTable) {
      if (delimiters_) {
        if (sinceSeparator_) {
          Separator(area.start);
        } else if (!separated_) {
          Blank(area.start);
        }
      }
      if (area.isCaseTable) {
        for (Address a = area.start; a + 3 <= area.end; a += 4) {
          uint32_t target = 0;
          mem_.Read32(a, target);
          std::string t = "  dd loc_" + AddressText(target, false);
          if (a == area.start) t = Pad(t, 31) + "  ; case jump table";
          lines.push_back({a, t});
        }
      } else {
        uint32_t count = 0;
        mem_.Read32(area.start, count);
        std::vector<std::pair<uint32_t, uint32_t>> rows;
        size_t width = 1;
        std::vector<std::string> names;
        for (uint32_t i = 0; i < count && area.start + 12 + 8 * i <= area.end + 1; ++i) {
          uint32_t cls = 0, handler = 0;
          mem_.Read32(area.start + 4 + 8 * i, cls);
          mem_.Read32(area.start + 8 + 8 * i, handler);
          rows.push_back({cls, handler});
          names.push_back(cls ? ClassName(mem_, cls) : "");
          width = std::max(width, names.back().size());
        }
        for (size_t i = 0; i < rows.size(); ++i) {
          std::string t = rows[i].first ? "  on " + Pad(names[i], width) + " do"
                                        : "  else" + std::string(width + 2, ' ');
          lines.push_back({area.start + 4 + 8 * static_cast<Address>(i), t + " loc_" + AddressText(rows[i].second, false)});
        }
      }
      separated_ = false;
      continue;
    }
    if (area.start == fi_.entryPoint || (delimiters_ && area.caller)) {
      if (!separated_ && !lines.empty()) Blank(area.start);
      std::string label = LabelOf(area) + ":";
      if (area.start == fi_.entryPoint) label = Pad(label, 31) + "  ; function entry point";
      Line l{area.start, label};
      l.label = true;
      lines.push_back(l);
    }
    separated_ = false;
    RegisterState regs = area.registers;
    for (Address a = area.start; a <= area.end;) {
      std::string text;
      InstructionInfo info;
      DecodedInstruction d;
      RegisterState before = regs;
      DecodeDetailed(mem_, a, d, &before, false);
      InstructionText(mem_, a, text, &regs, info, true);
      if (info.targetIsRelative && info.target) {
        if (const CodeArea* target = AreaAt(info.target)) {
          size_t blank = text.find(' ', 11);
          if (blank != std::string::npos) text.erase(blank);
          text = Pad(text, 19);
          if (text.back() != ' ') text += ' ';
          text += LabelOf(*target);
        }
      }
      // The instruction text carries its own address.
      Line l{a, text.size() > 8 ? text.substr(8) : ""};
      l.instruction = true;
      lines.push_back(l);
      sinceSeparator_ = true;
      Address next = info.nextInstruction > a ? info.nextInstruction : a + 1;
      const bool moreCode = next <= area.end || more;
      if (delimiters_ && moreCode && info.valid) {
        const uint16_t op = info.opcode;
        const bool ret = op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF;
        const bool uncond = op == 0xE9 || op == 0xEA || op == 0xEB || (op == 0xFF && info.isJump);
        const RuntimeRoutines& r = opt_.routines;
        const bool toHandler = info.target && (info.target == r.handleAnyException ||
                                               info.target == r.handleOnException || info.target == r.handleFinally);
        if (ret || (uncond && !toHandler)) {
          Separator(next);
        } else if (uncond) {
          Blank(next);
          separated_ = true;
        } else if (info.isCall || info.isJump) {
          Blank(next);
          separated_ = true;
        } else {
          separated_ = false;
        }
      } else {
        separated_ = false;
      }
      a = next;
    }
  }
  // No trailing delimiters.
  while (!lines.empty() && !lines.back().instruction && !lines.back().label &&
         (lines.back().text.empty() || lines.back().text == kSeparator))
    lines.pop_back();
  return true;
}

std::string Render(const Line& l) {
  std::string s = AddressText(l.address, true);
  if (!l.text.empty()) {
    if (l.instruction) {
      s += l.text;  // the instruction text starts with its blanks
    } else {
      s += " " + l.text;
    }
  }
  return s;
}

}  // namespace

void DisassembleFunction(const MemoryReader& memory, Address entry, std::string& text, Address exceptionAddress,
                         TFunctionInfo& info, bool autoDelimiters, uint32_t lineLimit, const AnalysisOptions& options) {
  text.clear();
  if (!AnalyseFunction(memory, entry, options, info)) return;
  std::vector<Line> lines;
  AnalysisOptions effective = options;
  effective.routines = WithOwnRoutines(options.routines);
  Lister lister(memory, info, effective, autoDelimiters);
  if (!lister.Build(lines)) {
    text = "Internal error in ParseFunction while composing the disassembling string...  :-(";
    return;
  }
  std::vector<std::string> rendered;
  rendered.reserve(lines.size());
  for (const Line& l : lines) rendered.push_back(Render(l));

  // Exception marker.
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].instruction && lines[i].address == exceptionAddress && rendered[i].size() >= 10) rendered[i][9] = '>';

  // Source line numbers.
  const LineNumberHook& hook = LineNumberResolver();
  if (hook) {
    auto lineOf = [&](Address a) -> uint32_t {
      uint32_t line = 0;
      Address lo = 0, hi = 0;
      return hook(a, line, lo, hi) ? line : 0;
    };
    uint64_t widest = lineOf(info.entryPoint + info.codeLength - 1);
    if (widest == 0) widest = uint64_t(lineOf(exceptionAddress)) * 10;
    size_t width = widest ? std::to_string(widest).size() : 0;
    if (width) {
      uint32_t previous = 0xFFFFFFFF;
      Address cacheLo = 1, cacheHi = 0;
      uint32_t cached = 0;
      for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].label) continue;
        const Address a = lines[i].address;
        uint32_t line;
        if (a >= cacheLo && a <= cacheHi) {
          line = cached;
        } else {
          line = 0;
          Address lo = a, hi = a;
          if (!hook(a, line, lo, hi)) line = 0, lo = hi = a;
          cached = line;
          cacheLo = lo;
          cacheHi = hi;
        }
        std::string& r = rendered[i];
        if (line != previous) {
          std::string number = std::to_string(line);
          if (number.size() < width) number.insert(0, width - number.size(), '0');
          if (r.size() >= 10) r.insert(9, number + " ");
          else r += " " + number;
          previous = line;
        } else if (r.size() >= 10) {
          r.insert(9, std::string(width + 1, ' '));
        }
      }
    }
  }

  // Line limit around the exception line.
  size_t begin = 0, end = rendered.size();
  bool cutFront = false, cutBack = false;
  if (lineLimit > 0) {
    size_t c = rendered.size();
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].address >= exceptionAddress) {
        c = i + 1;
        break;
      }
    // "[...]" only when lines are really left out.
    if (uint64_t(lineLimit) * 12 / 10 < c && c - 1 > lineLimit) {
      cutFront = true;
      begin = c - 1 - lineLimit;
    }
    if (c + lineLimit < rendered.size()) {
      end = c + lineLimit;
      cutBack = true;
    }
  }
  if (cutFront) text += "[...]\r\n";
  for (size_t i = begin; i < end; ++i) {
    text += rendered[i];
    text += "\r\n";
  }
  if (cutBack) text += "[...]\r\n";
  if (text.size() >= 2) text.resize(text.size() - 2);
}

}  // namespace rvx
