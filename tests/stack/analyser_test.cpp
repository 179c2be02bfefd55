// The function analyser and the listing on hand-made functions.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/stack/function_analyser.h"

namespace {
using namespace rvx;

// A block of memory from 0x1000 into which code is placed at given addresses.
class Memory {
 public:
  Memory() : bytes_(0x5000, 0xCC), reader_(kBase, bytes_.data(), bytes_.size()) {}
  static constexpr Address kBase = 0x1000;
  Memory& At(Address a, std::initializer_list<int> code) {
    size_t i = a - kBase;
    for (int b : code) bytes_[i++] = static_cast<uint8_t>(b);
    return *this;
  }
  Memory& Dword(Address a, uint32_t v) {
    std::memcpy(&bytes_[a - kBase], &v, 4);
    return *this;
  }
  const MemoryReader& reader() const { return reader_; }

 private:
  std::vector<uint8_t> bytes_;
  BufferReader reader_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2) out.push_back(text.substr(start, p - start));
  out.push_back(text.substr(start));
  return out;
}

bool HasLine(const std::string& text, const std::string& line) {
  for (const std::string& l : Lines(text))
    if (l == line) return true;
  return false;
}

const CodeArea* AreaAt(const TFunctionInfo& fi, Address a) {
  for (const CodeArea& c : fi.codeAreas)
    if (c.start == a) return &c;
  return nullptr;
}

TEST(Analyser, JumpOutOfTheModuleIsAFarCall) {
  Memory m;
  m.At(0x1000, {0x55, 0x8B, 0xEC, 0x5D, 0xE9}).Dword(0x1005, 0x00900000 - 0x1009);
  TFunctionInfo fi;
  ASSERT_TRUE(AnalyseFunction(m.reader(), 0x1000, fi));
  EXPECT_EQ(fi.codeAreas.size(), 1u);
  ASSERT_EQ(fi.farCalls.size(), 1u);
  EXPECT_EQ(fi.farCalls[0].target, 0x00900000u);
  EXPECT_FALSE(fi.farCalls[0].isCall);
  EXPECT_EQ(fi.codeBegin, 0x1000u);
  EXPECT_EQ(fi.codeLength, 9u);
  EXPECT_TRUE(fi.patchable);
  EXPECT_EQ(fi.copyInfo.bufferSize, 9u + 4u);
}

TEST(Analyser, CaseTableAfterTheJump) {
  Memory m;
  m.At(0x1000, {0x83, 0xF8, 0x02,                          // cmp eax, 2
                0x77, 0x13,                                // ja 1018
                0xFF, 0x24, 0x85, 0x0C, 0x10, 0x00, 0x00})  // jmp [eax*4+100c]
      .Dword(0x100C, 0x1018).Dword(0x1010, 0x101A).Dword(0x1014, 0x101C)
      .At(0x1018, {0x40, 0xC3, 0x48, 0xC3, 0x90, 0xC3});
  TFunctionInfo fi;
  ASSERT_TRUE(AnalyseFunction(m.reader(), 0x1000, fi));
  const CodeArea* table = AreaAt(fi, 0x100C);
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->isCaseTable);
  EXPECT_EQ(table->end, 0x1017u);
  for (Address target : {0x1018u, 0x101Au, 0x101Cu}) {
    ASSERT_NE(AreaAt(fi, target), nullptr) << std::hex << target;
    // 1018 is reached from the ja and from the table jump; the caller nearer to the area wins.
    EXPECT_EQ(AreaAt(fi, target)->caller, 0x1005u);
  }
  EXPECT_TRUE(fi.unresolvedBranches.empty());
  EXPECT_EQ(fi.codeLength, 0x1Eu);

  std::string text;
  DisassembleFunction(m.reader(), 0x1000, text, 0, fi, true, 0);
  EXPECT_TRUE(HasLine(text, "0000100c   dd loc_1018                    ; case jump table")) << text;
  EXPECT_TRUE(HasLine(text, "00001010   dd loc_101a")) << text;
  EXPECT_TRUE(HasLine(text, "0000101a loc_101a:")) << text;
  EXPECT_TRUE(HasLine(text, "00001003   ja      loc_1018")) << text;
  EXPECT_EQ(Lines(text).front(), "00001000 sub_1000:                        ; function entry point");
}

TEST(Analyser, TableInADataSectionFromOurCompiler) {
  Memory m;
  m.At(0x1000, {0x80, 0xF9, 0x01,                          // cmp cl, 1
                0x77, 0x0C,                                // ja 1011
                0x0F, 0xB6, 0xC9,                          // movzx ecx, cl
                0xFF, 0x24, 0x8D, 0x00, 0x40, 0x00, 0x00,  // jmp [ecx*4+4000]
                0xC3, 0xC3, 0xC3, 0x40, 0xC3, 0x48, 0xC3})
      .Dword(0x4000, 0x1012).Dword(0x4004, 0x1014);
  TFunctionInfo fi;
  ASSERT_TRUE(AnalyseFunction(m.reader(), 0x1000, fi));
  EXPECT_NE(AreaAt(fi, 0x1012), nullptr);
  EXPECT_NE(AreaAt(fi, 0x1014), nullptr);
  EXPECT_EQ(AreaAt(fi, 0x4000), nullptr) << "the table lies outside the function";
  EXPECT_TRUE(fi.unresolvedBranches.empty());
}

TEST(Analyser, ExceptionFrameAndHandlerTable) {
  Memory m;
  RuntimeRoutines r;
  r.handleOnException = 0x5000;
  m.At(0x1000, {0x33, 0xC0,                    // xor eax, eax
                0x55,                          // push ebp
                0x68, 0x20, 0x10, 0x00, 0x00,  // push 1020 (handler)
                0x64, 0xFF, 0x30,              // push dword ptr fs:[eax]
                0x64, 0x89, 0x20,              // mov fs:[eax], esp
                0xC3})
      .At(0x1020, {0xE9}).Dword(0x1021, 0x5000 - 0x1025)
      .Dword(0x1025, 2).Dword(0x1029, 0x3000).Dword(0x102D, 0x1040).Dword(0x1031, 0).Dword(0x1035, 0x1050)
      .At(0x1040, {0xC3}).At(0x1050, {0xC3})
      .Dword(0x3000 - 44, 0x2F00).At(0x2F00, {6, 'E', 'A', 'b', 'o', 'r', 't'});
  AnalysisOptions options;
  options.routines = r;
  TFunctionInfo fi;
  ASSERT_TRUE(AnalyseFunction(m.reader(), 0x1000, options, fi));
  ASSERT_NE(AreaAt(fi, 0x1020), nullptr);
  const CodeArea* table = AreaAt(fi, 0x1025);
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->isExceptionTable);
  EXPECT_EQ(table->end, 0x1025u + 4 + 16 - 1);
  EXPECT_NE(AreaAt(fi, 0x1040), nullptr);
  EXPECT_NE(AreaAt(fi, 0x1050), nullptr);
  std::string text;
  DisassembleFunction(m.reader(), 0x1000, text, 0, fi, true, 0, options);
  EXPECT_TRUE(HasLine(text, "00001029   on EAbort do loc_1040")) << text;
  EXPECT_TRUE(HasLine(text, "00001031   else         loc_1050")) << text;

  // The program's own routines stand in for the ones a caller leaves at 0.
  SetOwnRuntimeRoutines(r);
  DisassembleFunction(m.reader(), 0x1000, text, 0, fi, true, 0);
  SetOwnRuntimeRoutines(RuntimeRoutines{});
  EXPECT_TRUE(HasLine(text, "00001029   on EAbort do loc_1040")) << text;
}

TEST(Analyser, ConstantsInRegistersResolveCalls) {
  Memory m;
  m.At(0x1000, {0xB8, 0x00, 0x00, 0x90, 0x00,  // mov eax, 900000
                0xFF, 0xD0,                    // call eax
                0xC3});
  TFunctionInfo fi;
  ASSERT_TRUE(AnalyseFunction(m.reader(), 0x1000, fi));
  ASSERT_EQ(fi.farCalls.size(), 1u);
  EXPECT_EQ(fi.farCalls[0].target, 0x900000u);
  EXPECT_EQ(fi.farCalls[0].targetOperandAddress, 0x1001u);
  EXPECT_TRUE(fi.unresolvedBranches.empty());
  // The register change ends the first area.
  EXPECT_NE(AreaAt(fi, 0x1005), nullptr);
}

TEST(Analyser, FailuresAndGapFilling) {
  Memory m;
  m.At(0x1000, {0x90, 0x0F, 0x04});
  TFunctionInfo fi;
  EXPECT_FALSE(AnalyseFunction(m.reader(), 0x1000, fi));
  EXPECT_EQ(fi.lastErrorNumber, kErrorInvalidCode);
  EXPECT_EQ(fi.lastErrorText, "Invalid code!");
  EXPECT_EQ(fi.lastErrorAddress, 0x1001u);
  std::string text = "x";
  DisassembleFunction(m.reader(), 0x1000, text, 0, fi, true, 0);
  EXPECT_EQ(text, "");

  EXPECT_FALSE(AnalyseFunction(m.reader(), 0x100000, fi));
  EXPECT_EQ(fi.lastErrorNumber, kErrorInvalidParameter);

  // An indirect jump nobody can resolve: the code behind it is found by filling the gap.
  Memory g;
  g.At(0x1000, {0x85, 0xC0, 0x74, 0x06,        // test eax, eax; jz 100a
                0xFF, 0xE1,                    // jmp ecx
                0x40, 0x40, 0x40, 0xC3,        // 1006: reached through ecx only
                0xC3});                        // 100a
  ASSERT_TRUE(AnalyseFunction(g.reader(), 0x1000, fi));
  EXPECT_NE(AreaAt(fi, 0x1006), nullptr);
  ASSERT_EQ(fi.unresolvedBranches.size(), 1u);
  EXPECT_FALSE(fi.unresolvedBranches[0].isCall);

  // ud2 ends a path of our compiler's code.
  Memory t;
  t.At(0x1000, {0x85, 0xC0, 0x74, 0x02, 0x0F, 0x0B, 0xC3});
  EXPECT_TRUE(AnalyseFunction(t.reader(), 0x1000, fi));
}

TEST(Listing, MarkerLimitAndLineNumbers) {
  Memory m;
  std::vector<int> code(100, 0x40);  // inc eax
  code.push_back(0xC3);
  size_t i = 0;
  for (int b : code) m.At(0x1000 + static_cast<Address>(i++), {b});
  TFunctionInfo fi;
  std::string text;
  DisassembleFunction(m.reader(), 0x1000, text, 0x1032, fi, false, 5);
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 1u + 5 + 1 + 5 + 1) << text;
  EXPECT_EQ(lines.front(), "[...]");
  EXPECT_EQ(lines.back(), "[...]");
  EXPECT_EQ(lines[6], "00001032 > inc     eax");
  EXPECT_EQ(lines[1], "0000102d   inc     eax");

  DisassembleFunction(m.reader(), 0x1000, text, 0x1063, fi, false, 5);
  lines = Lines(text);
  EXPECT_EQ(lines.front(), "[...]");
  EXPECT_EQ(lines.back(), "00001064   ret");

  // Source lines: four bytes per line.
  SetLineNumberHook([](Address a, uint32_t& line, Address& lo, Address& hi) {
    line = (a - 0x1000) / 4 + 1;
    lo = a & ~3u;
    hi = a | 3u;
    return true;
  });
  DisassembleFunction(m.reader(), 0x1000, text, 0x1001, fi, false, 0);
  SetLineNumberHook(nullptr);
  lines = Lines(text);
  EXPECT_EQ(lines[0], "00001000 sub_1000:                        ; function entry point");
  EXPECT_EQ(lines[1], "00001000 01   inc     eax");
  EXPECT_EQ(lines[2], "00001001    > inc     eax");
  EXPECT_EQ(lines[5], "00001004 02   inc     eax");
  EXPECT_EQ(lines.back(), "00001064 26   ret");
}

TEST(Listing, DelimitersAfterCallsAndJumps) {
  Memory m;
  m.At(0x1000, {0x85, 0xC0,              // test eax, eax
                0x74, 0x06,              // jz 100a
                0xE8, 0xF7, 0x0F, 0x00, 0x00,  // call 2000
                0xC3,                    // ret
                0x33, 0xC0, 0xC3})       // 100a: xor eax, eax; ret
      .At(0x2000, {0xC3});
  TFunctionInfo fi;
  std::string text;
  DisassembleFunction(m.reader(), 0x1000, text, 0, fi, true, 0);
  std::vector<std::string> l = Lines(text);
  std::vector<std::string> expected = {
      "00001000 sub_1000:                        ; function entry point",
      "00001000   test    eax, eax",
      "00001002   jz      loc_100a",
      "00001004",
      "00001004   call    +$ff7 ($2000)",
      "00001009",
      "00001009   ret",
      "0000100a",
      "0000100a ; ---------------------------------------------------------",
      "0000100a",
      "0000100a loc_100a:",
      "0000100a   xor     eax, eax",
      "0000100c   ret",
  };
  EXPECT_EQ(l, expected) << text;
}

}  // namespace
