// The report view's model over reports made by our own composition: tabs, page texts and their renderers,
// column detection of call stacks, registers, stack dumps, disassembly, processes and plug-in sections, row
// cells and the painting rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "core/settings_stream.h"
#include "crash/core/exception_record.h"
#include "crash/core/report_plugins.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/decoder.h"
#include "crash/stack/function_analyser.h"
#include "crash/stack/memory_reader.h"
#include "crash/stack/stack_trace.h"
#include "crash/ui/report_view_model.h"

namespace rvx {
namespace {

std::vector<StackLine> MainStack() {
  return {{0x45a2b3, 0x45a2b3 - 0x1c, "contacts.exe", "Unit1", "TForm1.btnSaveClick", 42, 2},
          {0x4b1c2e, 0x4b1c2e - 0x3e, "contacts.exe", "Controls", "TControl.Click", 7255, 5},
          {0x7c80b713, 0, "kernel32.dll", "", "", 0, -1}};
}

std::vector<std::vector<std::string>> Cells(const ReportPage& page) {
  std::vector<std::vector<std::string>> out;
  for (const TItem& item : page.items) out.push_back(RowCells(item.text, page.columns));
  return out;
}

std::string Captions(const TColumns& columns) {
  std::string s;
  for (const TColumn& c : columns) s += (s.empty() ? "" : "|") + std::string(c.upperCase ? "^" : "") +
                                      (c.alignment == 1 ? " " : "") + c.caption;
  return s;
}

TEST(ReportColumns, SeparatorsLineUpAcrossLines) {
  EXPECT_EQ(Captions(ParseColumnCaptions("^handle|file name| version|^ rel.")), "^handle|file name| version|^ rel.");

  // Runs of blanks give their last column; "=" and ": " separate too; marker lines never vote.
  std::string text = "eax = 00000001\r\nebx = 0000ffff\r\n>> no = columns here at all\r\nesp = 0012ff00";
  std::vector<int32_t> seps = FindSeparatorColumns(text, LineTable(text), true);
  EXPECT_EQ(seps, std::vector<int32_t>{6});
  EXPECT_EQ(text.substr(0, 14), "eax   00000001");
  std::vector<std::string> cells = LineCellsFromColumns(text, seps, 2);
  EXPECT_EQ(cells[1], "ebx  \t0000ffff");

  // Three columns aligned with blanks where only one line really starts a cell after the padding: with
  // ignoreSingleLines that padding column is no separator, without it is.
  std::string table = "alpha  beta  one\r\nb      gamma two\r\nc      d     three";
  std::string copy = table;
  EXPECT_EQ(FindSeparatorColumns(copy, LineTable(copy), true), (std::vector<int32_t>{7, 13}));
  std::string lax = "ab cd ef\r\nab    ef\r\nab";
  std::string strict = lax;
  EXPECT_EQ(FindSeparatorColumns(lax, LineTable(lax), false), (std::vector<int32_t>{3, 6}));
  EXPECT_EQ(FindSeparatorColumns(strict, LineTable(strict), true), (std::vector<int32_t>{6}));
  // One non-empty line needs no confirmation.
  std::string single = "key = value";
  EXPECT_EQ(FindSeparatorColumns(single, LineTable(single), true), (std::vector<int32_t>{6}));
  // Too short, or nothing but markers.
  std::string tiny = "a b\r\n>> x y z";
  EXPECT_TRUE(FindSeparatorColumns(tiny, LineTable(tiny), false).size() <= 1);
  std::string markers = ">> a b c\r\n>> d e f";
  EXPECT_TRUE(FindSeparatorColumns(markers, LineTable(markers), false).empty());
}

TEST(ReportTabs, FollowTheSectionsOfTheReport) {
  NamedTexts one{{"main thread ($a10)", "x"}, {"cpu registers", "r"}, {"stack dump", "s"}, {"disassembling", "d"}};
  EXPECT_EQ(WantedTabs(one), (std::vector<std::string>{"general", "call stack", "cpu regs", "stack dump", "disasm"}));
  NamedTexts two{{"main thread ($a10)", "x"}, {"thread ($b20)", "y"}, {"modules", "m"}, {"other ($1)", "z"}};
  EXPECT_EQ(WantedTabs(two), (std::vector<std::string>{"general", "call stacks", "modules", "other ($1)"}));
  EXPECT_EQ(ThreadSectionCount(two), 2);
  EXPECT_EQ(WantedTabs({}), (std::vector<std::string>{"general", "call stack"}));

  // Whatever the row shows now, the edits end with the wanted row; an equal row needs none.
  std::vector<std::string> wanted = WantedTabs(one);
  EXPECT_TRUE(PlanTabEdits(wanted, wanted).empty());
  std::mt19937 random(7);
  std::vector<std::string> pool{"general", "call stack", "call stacks", "cpu regs", "stack dump", "disasm", "x"};
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> existing;
    for (int n = random() % 7; n > 0; --n) existing.push_back(pool[random() % pool.size()]);
    std::vector<std::string> tabs = existing;
    ApplyTabEdits(tabs, PlanTabEdits(existing, wanted));
    EXPECT_EQ(tabs, wanted);
  }
  // A report that grows keeps its tabs and only inserts the new ones.
  std::vector<std::string> early{"general", "call stack", "disasm"};
  auto edits = PlanTabEdits(early, wanted);
  EXPECT_TRUE(std::none_of(edits.begin(), edits.end(), [](const TabEdit& e) { return e.kind == TabEdit::Delete; }));
}

TEST(ReportPages, RebuiltOnlyWhenTabOrTextChange) {
  NamedTexts header{{"date/time", "2026-12-09, 18:00:00, 5ms"}, {"exception class", "EAccessViolation"}};
  NamedTexts sections{{"main thread ($a10)", "0045a2b3 +1c contacts.exe Unit1 42 +2 X\r\n>> stack will be calculated soon"},
                      {"modules", ">> will be calculated soon"}};
  ReportPageState state;
  auto page = state.Refresh(2, header, sections);
  ASSERT_TRUE(page);
  EXPECT_FALSE(page->IsList()) << "the placeholder is shown as text";
  EXPECT_FALSE(state.Refresh(2, header, sections)) << "same tab, same text";
  sections[1].second = ModulesText({{0x400000, "contacts.exe", "C:\\lab", "1.0.0.0"},
                                    {0x7c800000, "kernel32.dll", "C:\\WINDOWS\\system32", "5.1.2600.5781"},
                                    {0x10000000, "nover.dll", "C:\\lab", ""}});
  page = state.Refresh(2, header, sections);
  ASSERT_TRUE(page && page->IsList());
  EXPECT_EQ(Captions(page->columns), "^handle|file name| version|path");
  auto cells = Cells(*page);
  EXPECT_EQ(cells[1], (std::vector<std::string>{"7C800000", "kernel32.dll", "5.1.2600.5781", "C:\\WINDOWS\\system32"}));
  EXPECT_EQ(cells[2], (std::vector<std::string>{"10000000", "nover.dll", "", "C:\\lab"}));
  // The header page: name and value per row.
  page = state.Refresh(0, header, sections);
  ASSERT_TRUE(page && page->IsList());
  EXPECT_EQ(Cells(*page)[1], (std::vector<std::string>{"exception class", "EAccessViolation"}));
  // Closing drops the page; a tab beyond the sections is empty.
  page = state.Refresh(-1, header, sections);
  ASSERT_TRUE(page);
  EXPECT_FALSE(page->IsList());
  EXPECT_EQ(PageText(9, header, sections, nullptr), "");
}

class RealReport : public ::testing::Test {
 protected:
  static TraceResult Trace(const TraceOptions&) {
    StackText t = FormatStackLines(MainStack(), true, true);
    TraceResult r;
    r.text = t.text;
    r.crcFirst = t.crcFirst;
    r.crcCombined = t.crcCombined;
    r.hasLineNumbers = t.hasLineNumbers;
    return r;
  }
  void SetUp() override {
    ClearMemoryModules();
    SetMemoryModule(kLab, L"C:\\lab\\contacts.exe");
    SetMemoryResource(kLab, "ZAVEDO", rvxtest::SettingsStream().Bool("Enabled", true).Bool("NoSettings", false).End());
    SetTraceProvider(Trace);
  }
  void TearDown() override {
    SetTraceProvider(nullptr);
    ClearMemoryModules();
  }
  static constexpr ModuleHandle kLab = 0x7300000;
};

TEST_F(RealReport, ComposedReportReadBackIntoTabsAndLists) {
  TContext c{};
  c.Eax = 0x1234;
  c.Eip = 0x45a2b3;
  c.Esp = 0x12ff00;
  ExceptionParams p;
  p.settings = SettingsOfModule(kLab);
  p.object = MakeOwnException("Access violation at address 0045A2B3");
  p.address = 0x45a2b3;
  p.context = &c;
  p.dontCompleteYet = true;
  auto record = NewExceptionRecord(p);
  // While the record is being completed the registers tab shows its placeholder as text; the same tab turns
  // into a list once the section arrives.
  ReportPageState following;
  {
    NamedTexts early = ReadFields(record->BugReportSections().get());
    std::vector<std::string> tabs = WantedTabs(early);
    const int regs = static_cast<int>(std::find(tabs.begin(), tabs.end(), "cpu regs") - tabs.begin());
    ASSERT_LT(regs, static_cast<int>(tabs.size()));
    auto page = following.Refresh(regs, {}, early);
    ASSERT_TRUE(page);
    EXPECT_FALSE(page->IsList());
    EXPECT_EQ(following.Text(), ">> will be calculated soon");
    record->CompleteBugReport();
    page = following.Refresh(regs, {}, ReadFields(record->BugReportSections().get()));
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->IsList());
  }
  std::vector<uint8_t> stack(40);
  for (size_t i = 0; i < stack.size(); ++i) stack[i] = static_cast<uint8_t>(0x3c + i);
  record->CompleteBugReport();
  record->BugReportSections()->Add("stack dump", StackDumpText(0x12ff00, stack.data(), 40));
  std::string report = record->BugReport(true);

  NamedTexts header, sections;
  SplitReportText(report, header, sections);
  EXPECT_EQ(RenderReport(header, sections), report) << "the text reads back into what it was made of";
  ASSERT_GE(sections.size(), 3u) << report;
  std::vector<std::string> tabs = WantedTabs(sections);
  EXPECT_EQ(tabs[1], "call stack");
  EXPECT_NE(std::find(tabs.begin(), tabs.end(), "cpu regs"), tabs.end()) << report;

  ReportPageState state;
  auto general = state.Refresh(0, header, sections);
  ASSERT_TRUE(general && general->IsList());
  EXPECT_EQ(general->items.size(), header.size());
  EXPECT_EQ(Cells(*general)[0][0], "date/time");

  auto stacks = state.Refresh(1, header, sections);
  ASSERT_TRUE(stacks && stacks->IsList());
  EXPECT_EQ(Captions(stacks->columns), "^address|^ rel.|module|unit| line| rel.|function");
  EXPECT_EQ(stacks->items[0].colour, kSpecialRow);
  EXPECT_TRUE(stacks->items[0].headline) << "the thread's title is a headline";
  auto cells = Cells(*stacks);
  EXPECT_EQ(cells[1], (std::vector<std::string>{"0045A2B3", "+1C", "contacts.exe", "Unit1", "42", "+2",
                                                "TForm1.btnSaveClick"}));
  EXPECT_EQ(cells[3][2], "kernel32.dll");
  EXPECT_EQ(cells[3][6], "");
  EXPECT_FALSE(JumpText(stacks->items, stacks->columns, 0)) << "the first row never jumps";
  EXPECT_EQ(*JumpText(stacks->items, stacks->columns, 2), "004B1C2E +3E contacts.exe Controls 7255 +5 TControl.Click");

  int regs = static_cast<int>(std::find(tabs.begin(), tabs.end(), "cpu regs") - tabs.begin());
  auto registers = state.Refresh(regs, header, sections);
  ASSERT_TRUE(registers && registers->IsList());
  EXPECT_TRUE(registers->mono);
  EXPECT_EQ(Cells(*registers)[0], (std::vector<std::string>{"eax", "00001234"}));
  EXPECT_EQ(registers->items.size(), 9u);

  int dump = static_cast<int>(std::find(tabs.begin(), tabs.end(), "stack dump") - tabs.begin());
  auto dumpPage = state.Refresh(dump, header, sections);
  ASSERT_TRUE(dumpPage && dumpPage->IsList());
  auto dumpCells = Cells(*dumpPage);
  EXPECT_EQ(dumpCells[0][0], "0012ff00");
  EXPECT_EQ(dumpCells[0][1], "3c 3d 3e 3f 40 41 42 43 - 44 45 46 47 48 49 4a 4b");
  EXPECT_EQ(dumpCells[0][2], "<=>?@ABCDEFGHIJK");
  EXPECT_EQ(dumpCells[2][1], "5c 5d 5e 5f 60 61 62 63") << "the dump ends with the readable region";
}

TEST(CallStacks, ThreadsWithAndWithoutRelativeColumns) {
  std::string created = FormatStackLines(MainStack(), false, false).text;
  size_t lastLine = created.rfind("\r\n");
  created.insert(lastLine, "\r\n>> created by main thread ($a10) at:");
  NamedTexts sections{{"main thread ($a10)", FormatStackLines(MainStack(), true, true).text},
                      {"worker ($b20)", created},
                      {"idle ($c30)", ">> stack not accessible"}};
  ReportPageState state;
  auto page = state.Refresh(1, {}, sections);
  ASSERT_TRUE(page && page->IsList());
  EXPECT_EQ(Captions(page->columns), "^address|^ rel.|module|unit| line| rel.|function");
  auto cells = Cells(*page);
  // The second thread has no relative columns: its cells stay empty there.
  size_t worker = 0;
  while (worker < page->items.size() && page->items[worker].text != ">> worker ($b20)") ++worker;
  ASSERT_LT(worker + 2, page->items.size());
  EXPECT_TRUE(page->items[worker].headline) << "a thread title after an empty line";
  EXPECT_EQ(page->items[worker - 1].text, "");
  EXPECT_EQ(cells[worker + 1], (std::vector<std::string>{"0045A2B3", "", "contacts.exe", "Unit1", "42", "",
                                                         "TForm1.btnSaveClick"}));
  // ">> created by" stays inside the piece and is a plain marker row, no headline.
  size_t creator = worker + 3;
  EXPECT_EQ(page->items[creator].text, ">> created by main thread ($a10) at:");
  EXPECT_FALSE(page->items[creator].headline);
  EXPECT_EQ(cells[creator + 1][2], "kernel32.dll");
  EXPECT_EQ(page->items.back().text, ">> stack not accessible");
  EXPECT_EQ(RowCells(page->items.back().text, page->columns)[0], ">>");
  EXPECT_EQ(MarkerRowText(page->items.back().text), "stack not accessible");

  // A report that failed in the stack trace: the internal error is no headline.
  auto failed = RenderCallStack(">> internal error in FillFinalOutput:\r\n0045a2b3 +0 ???");
  ASSERT_FALSE(failed.items.empty());
  EXPECT_FALSE(failed.items[0].headline);
  EXPECT_EQ(ChooseRenderer(5, "hardware", ">> internal error in plugin"), RendererKind::CallStack);
}

TEST(CallStacks, PieceAnalysisWithoutLineNumbers) {
  TPiece piece{"00401000 crashlab.exe main\r\n0040200c crashlab.exe _start\r\n77001234 ntdll.dll    RtlUserThreadStart", {}};
  AnalysePiece(piece);
  EXPECT_EQ(piece.module, 1);
  EXPECT_EQ(piece.line, -1);
  EXPECT_EQ(piece.function, 2);
  TPiece unit{"00401000 a.exe Unit1 Main\r\n00402000 a.exe Unit2 Other", {}};
  AnalysePiece(unit);
  EXPECT_EQ(unit.unit, 2);
  EXPECT_EQ(unit.function, 3);
  // Cut points: an empty line after text starts a new piece; a marker directly after a marker does not.
  TDAPiece pieces = CutPieces(">> a\r\n1\r\n\r\n>> b\r\n2\r\n>> created by x\r\n3\r\n>> c");
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[1].text, "\r\n>> b\r\n2\r\n>> created by x\r\n3");
  EXPECT_EQ(pieces[2].text, ">> c");
}

// A small function in memory, listed by our disassembler with the crash line marked.
std::string Listing(bool withLines) {
  static std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(0x100, 0xCC);
    const uint8_t code[] = {0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x85, 0xC0, 0x74, 0x04,
                            0x8B, 0x00, 0x5D, 0xC3, 0x33, 0xC0, 0x5D, 0xC3};
    std::memcpy(b.data(), code, sizeof code);
    return b;
  }();
  BufferReader memory(0x401000, bytes.data(), bytes.size());
  if (withLines)
    SetLineNumberHook([](Address a, uint32_t& line, Address& lo, Address& hi) {
      line = 40 + (a - 0x401000) / 4;
      lo = hi = a;
      return true;
    });
  TFunctionInfo info;
  std::string text;
  DisassembleFunction(memory, 0x401000, text, 0x40100a, info, true, 0);
  SetLineNumberHook(nullptr);
  return text;
}

TEST(Disassembly, MarkerColumnDecidesTheLineColumn) {
  std::string plain = Listing(false);
  ASSERT_NE(plain.find(" > "), std::string::npos) << plain;
  ReportPage page = RenderDisassembly(plain);
  EXPECT_EQ(Captions(page.columns), "address|asm code|comments");
  auto crash = std::find_if(page.items.begin(), page.items.end(), [](const TItem& i) { return i.colour != 0; });
  ASSERT_NE(crash, page.items.end());
  EXPECT_EQ(crash->colour, kCrashLineRow);
  EXPECT_EQ(RowCells(crash->text, page.columns)[1], "\xA0 mov     eax, [eax]");
  auto entry = RowCells(page.items[0].text, page.columns);
  EXPECT_EQ(entry, (std::vector<std::string>{"00401000", "sub_401000:", "; function entry point"}));

  std::string lined = Listing(true);
  page = RenderDisassembly(lined);
  EXPECT_EQ(Captions(page.columns), "address|line|asm code|comments");
  crash = std::find_if(page.items.begin(), page.items.end(), [](const TItem& i) { return i.colour != 0; });
  ASSERT_NE(crash, page.items.end()) << lined;
  EXPECT_EQ(crash->colour, kCrashLineRow);
  // Labels keep their names whole and have an empty line cell.
  entry = RowCells(page.items[0].text, page.columns);
  EXPECT_EQ(entry, (std::vector<std::string>{"00401000", "", "sub_401000:", "; function entry point"}));
  EXPECT_EQ(RowCells(page.items[1].text, page.columns)[1], "40");
  // Delimiter comments are shortened, and stay whole in their cell.
  ReportPage delimited = RenderDisassembly("00401000   ret ; " + std::string(42, '-') + " end\r\n");
  EXPECT_EQ(RowCells(delimited.items[0].text, delimited.columns)[1], "ret ; " + std::string(14, '-') + " end");
}

TEST(PluginSections, ProcessesAndAutomaticLayouts) {
  std::vector<ProcessLine> processes{{0x17c, 0, "csrss.exe", "C:\\WINDOWS\\system32", 32, 10, 20},
                                     {0xa10, 1, "contacts.exe", "C:\\lab", 128, 12, 40},
                                     {0, 0, "Idle", "", 0, 0, 0}};
  ReportPage page = RenderProcesses(ProcessesText(processes));
  EXPECT_EQ(Captions(page.columns), "^id|file name|session|gdi objects|user objects|priority|path");
  ASSERT_EQ(page.items.size(), 3u);
  EXPECT_EQ(Cells(page)[1], (std::vector<std::string>{"A10", "contacts.exe", "1", "12", "40", "high", "C:\\lab"}));
  EXPECT_EQ(Cells(page)[2][1], "Idle");
  EXPECT_EQ(RenderProcesses("1 a 2 b 3 c 4 d\r\n5 e 6 f 7 g 8 h").columns.size(), 0u) << "seven separators";
  EXPECT_EQ(RenderProcesses("1 a b c\r\n2 d e f").columns.size(), 4u);

  // The hardware list: one column in the fixed font, indentation kept.
  ReportPage hardware = RenderAutomatic(HardwareText({{"Display adapters", "Wine display", " (driver 1.0)"},
                                                      {"Disk drives", "QEMU HARDDISK", ""}}));
  ASSERT_TRUE(hardware.IsList());
  EXPECT_TRUE(hardware.mono);
  EXPECT_EQ(hardware.items[1].text, "\xA0 - QEMU HARDDISK");
  EXPECT_EQ(hardware.items[0].colour, kLightBlue);
  // Plus/minus lists: one column in the fixed font, coloured rows, indentation kept.
  ReportPage mono = RenderAutomatic("!warning\r\n+ added\r\n - removed\r\n+ more");
  ASSERT_TRUE(mono.IsList());
  EXPECT_TRUE(mono.mono);
  ASSERT_EQ(mono.columns.size(), 1u);
  EXPECT_EQ(mono.items[0].text, "warning");
  EXPECT_EQ(mono.items[0].colour, kLightRed);
  EXPECT_EQ(mono.items[1].colour, kLightBlue);
  EXPECT_EQ(mono.items[2].text, "\xA0- removed");
  // Column headers from the first line.
  ReportPage headed = RenderAutomatic("^^name\t count\r\ncpu\t2\r\ndisk\t1");
  ASSERT_TRUE(headed.IsList());
  EXPECT_EQ(Captions(headed.columns), "^name| count");
  EXPECT_EQ(headed.items.size(), 2u);
  // Aligned text without TABs, and long prose that stays text.
  ReportPage aligned = RenderAutomatic("display   1024x768\r\nprinter   none\r\nsound     yes");
  ASSERT_TRUE(aligned.IsList());
  EXPECT_FALSE(aligned.columnHeaders);
  EXPECT_EQ(Cells(aligned)[1], (std::vector<std::string>{"printer", "none"}));
  std::string prose(200, 'x');
  EXPECT_FALSE(RenderAutomatic(prose + "\r\n" + prose).IsList());
  EXPECT_FALSE(RenderAutomatic("one line only").IsList());
}

TEST(Painting, BandsSelectionsAndReducedColours) {
  EXPECT_EQ(CellBackground(0, 4, 0, false, false), kLightBlue);
  EXPECT_EQ(CellBackground(1, 4, 0, false, false), kWhite);
  EXPECT_EQ(CellBackground(2, 4, 0, false, false), kLightRed);
  EXPECT_EQ(CellBackground(4, 5, 0, false, false), kLightBlue);
  EXPECT_EQ(CellBackground(0, 1, 0, false, false), kWhite) << "a single column is not banded";
  EXPECT_EQ(CellBackground(1, 4, kCrashLineRow, false, false), kCrashLineRow);
  EXPECT_EQ(CellBackground(0, 4, 0, true, false), 0xEFE8E0u);
  EXPECT_EQ(CellBackground(3, 4, 0x000005, true, false), 0u) << "channels stop at zero";
  EXPECT_EQ(CellBackground(0, 4, 0, true, true), 0x008080u);
  EXPECT_EQ(CellBackground(1, 4, kCrashLineRow, false, true), 0x0000FFu);

  TItems items{{">> main thread", kSpecialRow, true}, {"a", 0, false}, {"", kSpecialRow, false},
               {">> worker", kSpecialRow, true}, {"b", 0, false}};
  EXPECT_FALSE(ShowsSelection(items[0], true));
  EXPECT_TRUE(ShowsSelection(items[1], true));
  EXPECT_EQ(RowEdgeOf(items, 1, false, false).kind, RowEdge::BottomLine);
  EXPECT_EQ(RowEdgeOf(items, 2, false, false).kind, RowEdge::None) << "a headline follows";
  EXPECT_EQ(RowEdgeOf(items, 4, false, false).colour, 0xE0E0E0u);
  EXPECT_EQ(RowEdgeOf(items, 1, true, true).colour, 0x808080u);
  EXPECT_TRUE(IsPathText("C:\\lab\\contacts.exe"));
  EXPECT_FALSE(IsPathText("C:"));
  EXPECT_FALSE(IsPathText("1:\\x"));
  EXPECT_EQ(IdeJumpWindowPrefix(0xa10), "rvxToolsMsgHandlerWindow$a10");
  EXPECT_TRUE(IsIdeJumpWindowClass("rvxToolsMsgHandlerWindow$a10$401000", 0xa10));
  EXPECT_TRUE(IsIdeJumpWindowClass("rvxToolsMsgHandlerWindow$a10", 0xa10));
  EXPECT_FALSE(IsIdeJumpWindowClass("rvxToolsMsgHandlerWindow$a102$401000", 0xa10)) << "thread $a102 is another one";
}

}  // namespace
}  // namespace rvx
