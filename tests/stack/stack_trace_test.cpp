// The stack walker on hand-built processes: a program image with framed and frameless routines, a stack
// with real and stale return addresses, and symbol data made by the test.
#include <gtest/gtest.h>

#include "crash/stack/stack_trace.h"
#include "stack/fake_process.h"

namespace {
using namespace rvx;
using rvx::testing::FakeProcess;

constexpr Address kImage = 0x400000;
constexpr Address kStack = 0x100000, kStackTop = 0x101000;

// Routines of the program; each calls the next one inward.
constexpr Address kStart = 0x401500, kMain = 0x401000, kA = 0x401100, kB = 0x401200, kC = 0x401300,
                  kD = 0x401400, kR = 0x401600, kF = 0x401700, kThrow = 0x401800, kB2 = 0x401900;

struct Lab {
  FakeProcess p;
  std::shared_ptr<TMapFile> map = std::make_shared<TMapFile>();
  Address rStart, rMain, rA, rB, rD, rR1, rR2, rF, rB2;
  bool withSymbols = true;

  Lab() {
    p.MapImage(kImage, 0x1000, "C:\\lab\\prog.exe", true);
    p.Map(kStack, 0x1000, {}, false, 0);
    rStart = p.FramedCaller(kStart, kMain);
    rMain = p.FramedCaller(kMain, kA);
    rA = p.FramedCaller(kA, kB);
    rB = p.FramedCaller(kB, kC);
    p.Put(kC, {0xC7, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3});  // mov dword [eax], 0; ret
    rD = p.FramedCaller(kD, kB);
    // R calls itself, then C.
    p.Put(kR, {0x55, 0x8B, 0xEC});
    rR1 = p.Call(kR + 3, kR);
    rR2 = p.Call(rR1, kC);
    p.Put(rR2, {0x5D, 0xC3});
    rF = p.FramedCaller(kF, kThrow);
    p.Put(kThrow, {0xC3});
    rB2 = p.FramedCaller(kB2, 0x10001000);
    map->valid = true;
    map->segments.push_back({true, true, 0x401000, 0x1000, "lab.cpp", 0});
    int line = 10;
    for (auto [at, name] : std::initializer_list<std::pair<Address, const char*>>{
             {kMain, "Main"}, {kA, "A"}, {kB, "B"}, {kC, "C"}, {kD, "D"}, {kStart, "Start"}, {kR, "R"}, {kF, "F"},
             {kThrow, "__wrap___cxa_throw"}, {kB2, "B2"}}) {
      map->publics.push_back({true, true, name, at});
      map->lines.push_back({static_cast<uint32_t>(line), at});
      map->lines.push_back({static_cast<uint32_t>(line + 2), at + 3});
      map->lines.push_back({static_cast<uint32_t>(line + 3), at + 8});
      line += 10;
    }
    auto byAddress = [](const auto& x, const auto& y) { return x.address < y.address; };
    std::sort(map->publics.begin(), map->publics.end(), byAddress);
    std::sort(map->lines.begin(), map->lines.end(), byAddress);
  }

  // Stack words from the top down; returns the lowest slot.
  Address Stack(std::initializer_list<uint32_t> words) {
    Address a = kStackTop;
    for (uint32_t w : words) p.Put32(a -= 4, w);
    return a;
  }

  TStackWalker Walker() {
    WalkerEnvironment env;
    env.memory = &p;
    env.mainModule = kImage;
    auto m = map;
    bool symbols = withSymbols;
    env.symbols = [m, symbols](Address base, const std::string&) -> std::shared_ptr<const TMapFile> {
      return symbols && base == kImage ? m : nullptr;
    };
    return TStackWalker(std::move(env));
  }
};

TraceOptions Fault(Address esp, Address ebp, Address at) {
  TraceOptions o;
  o.stackTop = kStackTop;
  o.stackBottom = esp;
  o.ebp = ebp;
  o.isException = true;
  o.externalException = true;
  o.currentAddress = at;
  return o;
}

std::vector<std::string> Routines(const TraceResult& r) {
  std::vector<std::string> out;
  for (const TStackItem& i : r.items) out.push_back(i.functionName);
  return out;
}

// start -> main (a stale return address of D in its frame) -> A -> B -> C, which faults.
Address ChainStack(Lab& lab) {
  return lab.Stack({lab.rStart, 0, lab.rD, lab.rMain, 0x100FF8, lab.rA, 0x100FEC, lab.rB});
}

TEST(StackWalker, FramedChainDropsTheStaleReturnAddress) {
  Lab lab;
  Address esp = ChainStack(lab);
  TraceResult r = lab.Walker().Trace(Fault(esp, 0x100FE4, kC));
  EXPECT_EQ(Routines(r), (std::vector<std::string>{"C", "B", "A", "Main", "Start"})) << r.text;
  ASSERT_EQ(r.items.size(), 5u);
  EXPECT_EQ(r.items[0].address, kC);  // the faulting instruction itself
  EXPECT_EQ(r.items[1].address, kB + 3);  // the call, not the return address
  EXPECT_EQ(r.items[1].relAddress, 3u);
  EXPECT_EQ(r.items[1].line, 32u);
  EXPECT_EQ(r.items[1].relLine, 2u);
  EXPECT_EQ(r.items[1].unitName, "lab.cpp");
  EXPECT_EQ(r.items[1].moduleName, "prog.exe");
  EXPECT_TRUE(r.hasLineNumbers);
  EXPECT_EQ(r.firstShownAddress, kC);
  EXPECT_EQ(r.exceptionFunctionStart, kC);
  EXPECT_EQ(r.text.substr(0, r.text.find('\r')), "00401300 +0 prog.exe lab.cpp 40 +0 C");
}

TEST(StackWalker, FramelessChainIsFoundFromTheStackValuesAlone) {
  Lab lab;
  Address esp = ChainStack(lab);
  // No frame pointer: only the call checks and the links decide.
  TraceResult r = lab.Walker().Trace(Fault(esp, 0, kC));
  EXPECT_EQ(Routines(r), (std::vector<std::string>{"C", "B", "A", "Main", "Start"})) << r.text;
  // Collected first (as while the thread is held) and walked later: the same text and checksums.
  TStackWalker w = lab.Walker();
  TDAPreStackItem pre;
  int n = w.CollectCandidates(0, kStackTop, esp, pre, true, kC);
  EXPECT_EQ(n, 5);
  const Address count = pre[0].address;  // packed
  ASSERT_EQ(count, 5u);
  TraceOptions o = Fault(esp, 0, kC);
  o.candidates = &pre;
  TraceResult again = w.Trace(o);
  EXPECT_EQ(again.text, r.text);
  EXPECT_EQ(again.crcCombined, r.crcCombined);
  EXPECT_EQ(again.crcFirst, r.crcFirst);
}

TEST(StackWalker, RecursionIsShownOnce) {
  Lab lab;
  std::vector<uint32_t> words{lab.rStart, 0x0, 0, lab.rMain, 0};
  for (int i = 0; i < 50; ++i) words.push_back(lab.rR1);
  words.push_back(lab.rR2);
  Address a = kStackTop;
  for (uint32_t w : words) lab.p.Put32(a -= 4, w);
  // main calls A in this image; for the recursion let A's caller be R's first call.
  TraceResult r = lab.Walker().Trace(Fault(a, 0, kC));
  int rLines = 0;
  for (const std::string& name : Routines(r)) rLines += name == "R";
  EXPECT_EQ(rLines, 2) << r.text;  // R calling C, and R calling itself once
  EXPECT_EQ(Routines(r).front(), "C");
}

TEST(StackWalker, RaiseShowsTheRaisingCallSite) {
  Lab lab;
  Address esp = lab.Stack({lab.rStart, 0});
  TraceOptions o = Fault(esp, 0, lab.rF);  // a throw records the return address of the raise call
  o.externalException = false;
  TraceResult r = lab.Walker().Trace(o);
  ASSERT_FALSE(r.items.empty()) << r.text;
  EXPECT_EQ(r.items[0].functionName, "F");
  EXPECT_EQ(r.items[0].address, kF + 3);
  EXPECT_EQ(r.items[0].line, 82u);
  EXPECT_EQ(r.items[0].relLine, 2u);
}

TEST(StackWalker, RaiseCallSiteIsFoundWithoutSymbolData) {
  Lab lab;
  lab.withSymbols = false;
  Address esp = lab.Stack({lab.rStart, 0});
  TraceOptions o = Fault(esp, 0, lab.rF);
  o.externalException = false;
  TStackWalker w = lab.Walker();
  w.Environment().raiseRoutines = {kThrow};
  TraceResult r = w.Trace(o);
  ASSERT_FALSE(r.items.empty()) << r.text;
  EXPECT_EQ(r.items[0].address, kF + 3);
  // Not a raise routine: the location itself.
  w.Environment().raiseRoutines.clear();
  EXPECT_EQ(lab.Walker().Trace(o).items.at(0).address, lab.rF);
}

TEST(StackWalker, HiddenUglyItemsKeepTheTopLine) {
  Lab lab;
  // B2 has a name but no line numbers; it calls S1 of sys.dll (no symbol data, S1 is its entry point), which
  // calls S2, which faults.
  std::erase_if(lab.map->lines, [](const TMfLine& l) { return l.address >= kB2 && l.address < kB2 + 0x100; });
  FakeProcess::Block& dll = lab.p.MapImage(0x10000000, 0x1000, "C:\\windows\\sys.dll", false);
  uint32_t entry = 0x1000;
  std::memcpy(&dll.bytes[0x58 + 0x10], &entry, 4);
  Address rS1 = lab.p.FramedCaller(0x10001000, 0x10001100);
  lab.p.Put(0x10001100, {0xC7, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3});
  Address esp = lab.Stack({lab.rB2, 0, rS1});
  for (bool hide : {false, true}) {
    TraceOptions o = Fault(esp, 0, 0x10001100);
    o.hideUglyItems = hide;
    TraceResult r = lab.Walker().Trace(o);
    ASSERT_FALSE(r.items.empty());
    EXPECT_EQ(r.items[0].moduleName, "sys.dll");
    EXPECT_EQ(r.items[0].address, 0x10001100u);
    std::vector<std::string> expected = {""};
    if (!hide) expected.push_back("B2");
    EXPECT_EQ(Routines(r), expected) << r.text;
  }
}

TEST(StackWalker, WithoutSymbolDataOnlyTheTopLineHasNoName) {
  Lab lab;
  lab.withSymbols = false;
  Address esp = ChainStack(lab);
  TraceResult r = lab.Walker().Trace(Fault(esp, 0x100FE4, kC));
  ASSERT_EQ(r.items.size(), 1u) << r.text;
  EXPECT_EQ(r.text, "00401300 prog.exe  ");
  EXPECT_EQ(r.crcFirst, kC);  // a line without routine counts with its address
  EXPECT_FALSE(r.hasLineNumbers);
}

TEST(StackWalker, UnreadableOrAbortedStacksGiveNothing) {
  Lab lab;
  TraceOptions o = Fault(0x200000, 0, kC);
  o.stackTop = 0x201000;
  TraceResult r = lab.Walker().Trace(o);
  EXPECT_EQ(r.text, "");
  EXPECT_TRUE(r.items.empty());
  TDAPreStackItem pre;
  EXPECT_EQ(lab.Walker().CollectCandidates(0, 0x201000, 0x200000, pre, false, 0), 0);
  volatile bool abort = true;
  Address esp = ChainStack(lab);
  TraceOptions stopped = Fault(esp, 0x100FE4, kC);
  stopped.abort = &abort;
  EXPECT_EQ(lab.Walker().Trace(stopped).text, "");
}

TEST(StackWalker, CreatorCallSiteIsTheLastLine) {
  Lab lab;
  Address esp = lab.Stack({lab.rA, 0, lab.rB});
  TraceOptions o = Fault(esp, 0, kC);
  o.creatorAddress = kStart + 3;  // the call in Start that created the thread
  TraceResult r = lab.Walker().Trace(o);
  EXPECT_EQ(Routines(r), (std::vector<std::string>{"C", "B", "A", "Start"})) << r.text;
  EXPECT_EQ(r.items.back().address, kStart + 3);
}

TEST(StackWalker, CallChecksRecogniseEveryCallForm) {
  FakeProcess p;
  p.Map(0x1000, 0x100, {}, false, 0x90);
  struct Case {
    std::vector<int> bytes;
    bool call;
  } cases[] = {
      {{0xE8, 0x10, 0, 0, 0}, true},              // call rel32
      {{0xFF, 0xD0}, true},                       // call eax
      {{0xFF, 0x50, 0x08}, true},                 // call [eax+8]
      {{0xFF, 0x54, 0x24, 0x08}, true},           // call [esp+8]
      {{0xFF, 0x15, 0, 0x20, 0, 0}, true},        // call [import slot]
      {{0xFF, 0x94, 0x24, 0, 1, 0, 0}, true},     // call [esp+100]
      {{0x9A, 0, 0, 0, 0, 0x23, 0}, true},        // call far
      {{0xFF, 0xE0}, false},                      // jmp eax
      {{0xFF, 0x25, 0, 0x20, 0, 0}, false},       // jmp [slot]
      {{0x8B, 0x45, 0x08}, false},                // mov eax, [ebp+8]
  };
  for (const Case& c : cases) {
    Address at = 0x1040 - static_cast<Address>(c.bytes.size());
    for (Address a = 0x1030; a < 0x1040; ++a) p.Byte(a) = 0x90;
    for (size_t i = 0; i < c.bytes.size(); ++i) p.Byte(at + static_cast<Address>(i)) = static_cast<uint8_t>(c.bytes[i]);
    EXPECT_EQ(IsAfterCallSite(p, 0x1040), c.call) << std::hex << c.bytes[0] << " " << c.bytes[1];
    EXPECT_EQ(CallSiteBefore(p, 0x1040), c.call ? at : 0x1040u) << std::hex << c.bytes[0];
  }
  EXPECT_FALSE(IsAfterCallSite(p, 0x1003));  // the bytes before it cannot be read
}

TEST(StackWalker, LineFormatColumnsAndChecksums) {
  StackLine a{0x0045a2b3, 0x0045a2b3 - 0x1c, "contacts.exe", "Unit1", "TForm1.btnSaveClick", 42, 2};
  StackLine b{0x004b1c2e, 0x004b1c2e - 0x3e, "contacts.exe", "Controls", "TControl.Click", 7255, 5};
  StackText t = FormatStackLines({a, b}, true, true);
  EXPECT_EQ(t.text,
            "0045a2b3 +1c contacts.exe Unit1      42 +2 TForm1.btnSaveClick\r\n"
            "004b1c2e +3e contacts.exe Controls 7255 +5 TControl.Click");
  EXPECT_TRUE(t.hasLineNumbers);
  EXPECT_EQ(t.crcFirst, FormatStackLines({a}, true, true).crcFirst);
  EXPECT_NE(t.crcCombined, t.crcFirst);
  // The checksums leave addresses out: the same routines elsewhere in memory give the same values.
  StackLine a2 = a, b2 = b;
  a2.address += 0x10000;
  a2.routineStart += 0x10000;
  b2.address += 0x10000;
  b2.routineStart += 0x10000;
  EXPECT_EQ(FormatStackLines({a2, b2}, true, true).crcCombined, t.crcCombined);
  EXPECT_EQ(FormatStackLines({a, b}, false, false).text,
            "0045a2b3 contacts.exe Unit1      42 TForm1.btnSaveClick\r\n"
            "004b1c2e contacts.exe Controls 7255 TControl.Click");
  StackLine plain{0x401000, 0, "x.exe", "", "", 0, -1};
  EXPECT_EQ(FormatStackLines({plain}, true, true).crcFirst, 0x401000u);
  EXPECT_EQ(InternalErrorText("InDeepChecks"), ">> internal error in InDeepChecks");
}

TEST(StackWalker, LineTextOfOneAddress) {
  Lab lab;
  TStackWalker w = lab.Walker();
  EXPECT_EQ(w.LineText(kB + 3, true, true), "00401203 +3 prog.exe lab.cpp 32 +2 B");
  EXPECT_EQ(w.LineText(kB + 3, false, false), "00401203 prog.exe lab.cpp 32 B");
  EXPECT_EQ(w.LineText(0x00123456, true, true), "00123456 +0 ???");
  EXPECT_EQ(w.LineText(0x00123456, false, true), "00123456 ???");
}

}  // namespace
