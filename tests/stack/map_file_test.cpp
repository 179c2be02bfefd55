// Symbol data: the lookups' search, the building rules shared by all sources, and the two hooks over one
// object.
#include <gtest/gtest.h>

#include <random>

#include "crash/stack/map_build.h"
#include "crash/stack/map_file.h"

namespace {
using namespace rvx;

TMapFile WithPublics(std::vector<Address> addresses, Address codeTop = 0) {
  TMapFile m;
  m.codeTop = codeTop;
  MapBuilder b(m);
  for (Address a : addresses) b.AddPublic(true, "p" + std::to_string(a), a);
  return m;
}

// The reference answers: plain linear scans over the sorted arrays.
long LinearPublic(const TMapFile& m, Address a) {
  long found = -1;
  for (size_t i = 0; i < m.publics.size(); ++i)
    if (m.publics[i].address <= a) found = static_cast<long>(i);
  return found;
}

TEST(SymbolLookup, SearchAgreesWithLinearScanForEverySizeAndPosition) {
  // Distinct, ascending publics of every count up to 300: every address (inside, between, before, after)
  // must find what a linear scan finds. Catches a search whose halving steps cannot reach some entries.
  for (size_t n = 1; n <= 300; ++n) {
    std::vector<Address> addrs;
    for (size_t i = 0; i < n; ++i) addrs.push_back(0x1000 + Address(i) * 16);
    TMapFile m = WithPublics(addrs);
    for (Address a = 0xff0; a < 0x1000 + n * 16 + 16; a += 8) {
      long want = LinearPublic(m, a);
      TMfPublic got = PublicAt(m, a);
      if (want < 0) {
        ASSERT_FALSE(got.valid) << n << " " << a;
      } else {
        ASSERT_TRUE(got.valid) << n << " " << a;
        ASSERT_EQ(got.address, m.publics[size_t(want)].address) << n << " " << a;
      }
    }
  }
}

TEST(SymbolLookup, LastPublicEndsAtTopOfCode) {
  TMapFile m = WithPublics({0x1000, 0x1100}, 0x1200);
  EXPECT_EQ(PublicAt(m, 0x11ff).address, 0x1100u);
  EXPECT_FALSE(PublicAt(m, 0x1200).valid);
  EXPECT_FALSE(PublicAt(m, 0xfff).valid);
  m.codeTop = 0;  // unknown top: the last public reaches on
  EXPECT_TRUE(PublicAt(m, 0x5000).valid);
  // Two publics at one address: the later one of the sorted array answers.
  TMapFile twin = WithPublics({0x1000, 0x1000, 0x1010});
  twin.publics[1].name = "second";
  EXPECT_EQ(PublicAt(twin, 0x1004).name, "second");
}

TEST(SymbolLookup, SegmentsOfBothClassesAndEqualStarts) {
  TMapFile m;
  MapBuilder b(m);
  b.AddSegment(false, 0x5000, 0x100, "DataUnit");
  b.AddSegment(true, 0x1000, 0x100, "Short");
  b.AddSegment(true, 0x1000, 0x400, "Long");  // equal start: the longer sorts first
  b.AddSegment(true, 0x2000, 0x100, "Third.pas");
  b.SortSegments();
  ASSERT_EQ(m.segments[0].unit, "Long");
  EXPECT_EQ(m.segments[2].unit, "Third");  // ".pas" removed when added
  EXPECT_FALSE(m.segments[3].isCode);
  EXPECT_EQ(SegmentAt(m, true, 0x2050).unit, "Third");
  EXPECT_EQ(SegmentAt(m, false, 0x5050).unit, "DataUnit");
  EXPECT_FALSE(SegmentAt(m, true, 0x5050).valid);   // data address, code asked
  EXPECT_FALSE(SegmentAt(m, false, 0x2050).valid);  // code address, data asked
  EXPECT_FALSE(SegmentAt(m, true, 0x2100).valid);   // one past the end
  TMfSegment s = SegmentAt(m, true, 0x1200);
  ASSERT_TRUE(s.valid);
  EXPECT_EQ(s.unit, "Long");
}

TEST(SymbolLookup, NestedRangesAnswerWithTheFirstProbeThatContainsTheAddress) {
  // Merges can leave a unit's range around another's; the search then answers with the range it probes
  // first (here the middle one), not with the innermost.
  TMapFile m;
  MapBuilder b(m);
  b.AddSegment(true, 0x0100, 0x10, "Before");
  b.AddSegment(true, 0x1000, 0x1000, "Outer");
  b.AddSegment(true, 0x1100, 0x100, "Inner");
  b.SortSegments();
  EXPECT_EQ(SegmentAt(m, true, 0x1150).unit, "Outer");
  EXPECT_EQ(SegmentAt(m, true, 0x1f00).unit, "Outer");
  b.AddSegment(true, 0x3000, 0x10, "After");
  b.SortSegments();  // now the inner range lies in the middle
  EXPECT_EQ(SegmentAt(m, true, 0x1150).unit, "Inner");
}

TEST(SymbolLookup, LineNeedsItsItemInsideTheAddressSegment) {
  TMapFile m;
  m.codeTop = 0x3000;
  MapBuilder b(m);
  b.AddSegment(true, 0x1000, 0x100, "a.cpp");
  b.AddSegment(true, 0x1200, 0x100, "b.cpp");
  b.SortSegments();
  b.AddLine(10, 0x1000);
  b.AddLine(11, 0x1010);
  b.AddLine(20, 0x1280);
  LineResult r = LineAt(m, 0x1014);
  EXPECT_EQ(r.line, 11);
  EXPECT_EQ(r.nextAddress, 0x1280u);
  EXPECT_EQ(LineAt(m, 0x1204).line, 0);    // item 11 lies outside b.cpp's segment
  EXPECT_EQ(LineAt(m, 0x1150).line, 0);    // no segment at all
  EXPECT_EQ(LineAt(m, 0x12ff).line, 20);
  EXPECT_EQ(LineAt(m, 0x12ff).nextAddress, 0x1300u);  // last item: the address + 1
  EXPECT_EQ(LineAt(m, 0x3000).line, 0);    // at top of code
  // Minimal data: no items, but the unit says lines exist elsewhere.
  TMapFile minimal;
  MapBuilder mb(minimal);
  mb.AddSegment(true, 0x1000, 0x100, "segment%0", 1);
  mb.AddSegment(true, 0x1100, 0x100, "segment%1", 0);
  mb.SortSegments();
  EXPECT_EQ(LineAt(minimal, 0x1010).line, -1);
  EXPECT_EQ(LineAt(minimal, 0x1110).line, 0);
}

TEST(SymbolLookup, PublicByNameTriesSourceEndings) {
  TMapFile m;
  MapBuilder b(m);
  b.AddSegment(true, 0x1000, 0x100, "unit1_win.cpp");
  b.AddSegment(true, 0x2000, 0x100, "helpers.h");
  b.SortSegments();
  b.AddPublic(true, "TForm1.btnSaveClick", 0x1010);
  b.AddPublic(true, "Twice", 0x2020);
  b.SortPublics();
  EXPECT_EQ(PublicByName(m, true, "Unit1_Win.cpp", true, "TForm1.btnSaveClick"), 0x1010u);
  EXPECT_EQ(PublicByName(m, true, "unit1_win", true, "TForm1.btnSaveClick"), 0x1010u);
  EXPECT_EQ(PublicByName(m, true, "helpers", false, "TWICE"), 0x2020u);
  EXPECT_EQ(PublicByName(m, true, "helpers", true, "TWICE"), 0u);
  EXPECT_EQ(PublicByName(m, true, "unit1_win.c", true, "TForm1.btnSaveClick"), 0u);  // has a dot: no tries
  EXPECT_EQ(PublicByName(m, false, "unit1_win", true, "TForm1.btnSaveClick"), 0u);
}

TEST(SymbolBuild, PublicNameRules) {
  TMapFile m;
  MapBuilder b(m);
  b.AddSegment(true, 0x1000, 0x1000, "Forms.pas");
  b.AddSegment(true, 0x2000, 0x1000, "unit1_win.cpp");
  b.SortSegments();
  b.AddPublic(true, "Forms", 0x1000);                            // equals its unit
  b.AddPublic(true, "@Forms@TForm@Show$qqrv", 0x1100);           // unit of the name = segment's unit
  b.AddPublic(true, "@Classes@TList@Add$qqrpv", 0x1200);         // another unit stays in front
  b.AddPublic(true, "Forms.TScreen.Create", 0x1300);             // segment unit prefix removed
  b.AddPublic(true, "@$xp$12TForm", 0x1400);                     // compiler data, kept as it stands
  b.AddPublic(true, "_ZN6TForm112btnSaveClickEPv", 0x2000);      // our compiler's names
  b.AddPublic(true, "@@Helper", 0x2100);
  std::vector<std::string> names;
  for (auto& p : m.publics) names.push_back(p.name);
  EXPECT_EQ(names, (std::vector<std::string>{"initialization", "TForm.Show", "Classes.TList.Add", "TScreen.Create",
                                             "@$xp$12TForm", "TForm1.btnSaveClick", "Helper"}));
  TMapFile codeOnly;
  codeOnly.codeOnly = true;
  MapBuilder cb(codeOnly);
  cb.AddPublic(false, "Data", 0x5000);
  EXPECT_TRUE(codeOnly.publics.empty());
}

TEST(SymbolBuild, MergingModes) {
  auto build = [](MergeMode mode) {
    TMapFile m;
    MapBuilder b(m);
    b.AddSegment(true, 0x1000, 0x80, "A");   // gap to the next one
    b.AddSegment(true, 0x1100, 0x100, "a");  // same unit (without case)
    b.AddSegment(true, 0x1200, 0x0, "Empty");
    b.AddSegment(true, 0x1300, 0x100, "B");
    b.AddSegment(true, 0x1300, 0x50, "SameStart");
    b.AddSegment(false, 0x1400, 0x10, "D");
    b.SortSegments();
    b.MergeSegments(mode);
    return m.segments;
  };
  auto checking = build(MergeMode::Checking);
  // The gap keeps A and a apart; the empty one gives way to what follows, and of two segments with one start
  // the later (shorter) one stays.
  ASSERT_EQ(checking.size(), 4u);
  EXPECT_EQ(checking[0].length, 0x80u);
  EXPECT_EQ(checking[1].unit, "a");
  EXPECT_EQ(checking[1].length, 0x100u);
  EXPECT_EQ(checking[2].unit, "SameStart");
  EXPECT_EQ(checking[2].start, 0x1300u);
  auto always = build(MergeMode::Always);
  // Without the check the gap closes and the two "a" units become one range.
  ASSERT_EQ(always[0].unit, "A");
  EXPECT_EQ(always[0].start, 0x1000u);
  EXPECT_EQ(always[0].length, 0x200u);
  EXPECT_FALSE(always.back().isCode);
}

TEST(SymbolBuild, JoiningModeAndTableSegments) {
  TMapFile m;
  MapBuilder b(m);
  b.JoinSegment(true, 0x1000, 0x10, "x.cpp");
  b.JoinSegment(true, 0x1012, 0x10, "x.cpp");  // 2 bytes after the end: joined
  b.JoinSegment(true, 0x1025, 0x10, "x.cpp");  // 3 bytes after: a new segment
  b.JoinSegment(true, 0x1040, 0x10, "y.cpp");
  b.JoinSegment(false, 0x8000, 0x10, "x.cpp");  // other class: its own last segment
  ASSERT_EQ(m.segments.size(), 4u);
  EXPECT_EQ(m.segments[0].length, 0x22u);
  // Publics of compiler symbol tables extend the last segment up to them (not into the next one) or open
  // a one-byte segment of their own unit.
  TMapFile t;
  MapBuilder tb(t);
  tb.AddSegment(true, 0x1000, 0x10, "Main");
  tb.AddSegment(true, 0x1100, 0x10, "Next");
  tb.SortSegments();
  tb.AddPublic(true, "@Main@Late$qqrv", 0x1000, true);
  tb.AddPublic(true, "@Other@Func$qqrv", 0x1050, true);
  ASSERT_EQ(t.segments.size(), 3u);
  EXPECT_EQ(t.segments[1].unit, "Other");
  EXPECT_EQ(t.segments[1].start, 0x1050u);
  EXPECT_EQ(t.segments[1].length, 1u);
  tb.AddPublic(true, "@Other@Far$qqrv", 0x1200, true);  // grows "Other" up to "Next", no further
  EXPECT_EQ(t.segments[1].length, 0xb0u);
}

TEST(SymbolHooks, RoutineNamesAndLineCaching) {
  TMapFile m;
  m.moduleFileName = "C:\\app\\contacts.exe";
  MapBuilder b(m);
  b.AddSegment(true, 0x1000, 0x100, "unit1_win.cpp");
  b.SortSegments();
  b.AddPublic(true, "TForm1.btnSaveClick", 0x1000);
  b.AddPublic(true, "public%3", 0x1040);
  b.AddLine(40, 0x1000);
  b.AddLine(42, 0x1008);
  EXPECT_EQ(RoutineNameIn(m, 0x1000), "unit1_win.cpp.TForm1.btnSaveClick");
  EXPECT_EQ(RoutineNameIn(m, 0x1001), "");  // only at a routine's start
  EXPECT_EQ(RoutineNameIn(m, 0x1040), "unit1_win.cpp.public%3 (contacts.exe)");
  uint32_t line = 0;
  Address lowest = 0, next = 0;
  LineNumberIn(m, 0x1002, line, lowest, next);
  EXPECT_EQ(line, 40u);
  EXPECT_EQ(lowest, 0x1002u);
  EXPECT_EQ(next, 0x1008u);
  line = 99;  // inside the cached range nothing is looked up
  LineNumberIn(m, 0x1004, line, lowest, next);
  EXPECT_EQ(line, 99u);
  LineNumberIn(m, 0x1008, line, lowest, next);
  EXPECT_EQ(line, 42u);
}

TEST(SymbolLookup, RandomTablesAgreeWithLinearScan) {
  // Segments with gaps, publics with duplicates, lines: random layouts against linear reference answers.
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    TMapFile m;
    MapBuilder b(m);
    Address a = 0x1000;
    int n = 1 + int(rng() % 60);
    for (int i = 0; i < n; ++i) {
      Address len = 1 + rng() % 64;
      b.AddSegment(true, a, len, "u" + std::to_string(i));
      a += len + (rng() % 3 == 0 ? rng() % 32 : 0);
    }
    b.SortSegments();
    for (Address x = 0xff0; x < a + 8; ++x) {
      const TMfSegment* want = nullptr;
      for (auto& s : m.segments)
        if (x >= s.start && x - s.start < s.length) want = &s;
      TMfSegment got = SegmentAt(m, true, x);
      ASSERT_EQ(got.valid, want != nullptr) << round << " " << x;
      if (want) {
        ASSERT_EQ(got.unit, want->unit);
      }
    }
  }
}

}  // namespace
