// Pipeline decisions, system information rules, thread section texts and the image checksum.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/settings_stream.h"
#include "crash/core/hooks.h"
#include "crash/core/pipeline.h"
#include "crash/core/sysinfo.h"
#include "crash/core/thread_stack.h"
#include "crash/core/web_exception_page.h"

namespace rvx {
namespace {

TEST(Pipeline, ClassFilters) {
  std::vector<std::string> dbEdit{"EDBEditError", "EDatabaseError", "Exception", "std::exception"};
  EXPECT_EQ(ChooseFilter(",EDBEditError,", "", dbEdit), 1);
  EXPECT_EQ(ChooseFilter("EConvertError", "EDatabaseError", dbEdit), 2);
  EXPECT_EQ(ChooseFilter("EConvertError", "EDBEdit", dbEdit), 0);  // exact names only
  EXPECT_EQ(ChooseFilter("Exception", "", {}), 0);                 // no object: the general rule
  EXPECT_TRUE(ClassListHas("a, EDBEditError ,b", dbEdit));
}

TEST(Pipeline, AutoCloseAfterTenExceptionsWithinTheWindow) {
  ExceptionTimeHistory h{};
  int64_t now = 1000000;
  EXPECT_FALSE(AutoRuleApplies(0, h, now));
  EXPECT_TRUE(AutoRuleApplies(1, h, now));
  for (int i = 0; i < 9; ++i) {
    PushExceptionTime(h, now + i);
    EXPECT_FALSE(AutoRuleApplies(60, h, now + i)) << i;
  }
  PushExceptionTime(h, now + 9);
  EXPECT_TRUE(AutoRuleApplies(60, h, now + 9));
  EXPECT_EQ(h[0], now + 9);
  EXPECT_FALSE(AutoRuleApplies(60, h, now + 61));  // the oldest is too old by then
}

TEST(Pipeline, OsExceptionTexts) {
  EXPECT_EQ(OsExceptionText(0xC0000005, 0x401000, true, "a.exe", true, 0x10),
            "Access violation at address 00401000 in module 'a.exe'. Write of address 00000010");
  EXPECT_EQ(OsExceptionText(0xC0000005, 0x10, false, "", false, 0), "Access Violation");
  EXPECT_EQ(OsExceptionText(0xC0000094, 0, false, "", false, 0), "Integer division by zero");
  EXPECT_EQ(OsExceptionText(0xC000001D, 0, false, "", false, 0), "External exception c000001d");
}

// A console program's module with these settings as the main settings.
void UseConsoleSettings(ModuleHandle module, const rvxtest::SettingsStream& settings) {
  ClearMemoryModules();
  SetMemoryModule(module, L"C:\\lab\\console.exe");
  SetMemoryResource(module, "ZAVEDO", settings.End());
  SetMainSettings(SettingsOfModule(module));
}

TEST(Pipeline, ConsoleProgramPrintsLineAndReportAndSavesIt) {
  UseConsoleSettings(0x7200000, rvxtest::SettingsStream().Bool("Enabled", true).Bool("NoSettings", false)
                                    .Text("ExceptMsg", "failed: %exceptMsg%").Bool("AutoSave", false));
  testing::internal::CaptureStdout();
  HandleParams p;
  p.object = MakeOwnException("boom");
  p.address = 0x401000;
  HandleException(p);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("failed: boom.\r\n\r\ndate/time", 0), 0u) << out;
  // EAbort is never reported.
  testing::internal::CaptureStdout();
  p.object = MakeOwnException("silent", "EAbort");
  HandleException(p);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");
  SetMainSettings(nullptr);
  ClearMemoryModules();
}

TEST(Pipeline, CgiProgramWritesThePageAndNoConsoleLine) {
  UseConsoleSettings(0x7240000, rvxtest::SettingsStream().Bool("Enabled", true).Bool("NoSettings", false)
                                    .Text("TitleBar", "shop").Text("ExceptMsg", "failed: %exceptMsg%")
                                    .Bool("AutoSave", false));
  ASSERT_EQ(setenv("GATEWAY_INTERFACE", "CGI/1.1", 1), 0);
  testing::internal::CaptureStdout();
  HandleParams p;
  p.object = MakeOwnException("no <b>stock</b>");
  p.address = 0x401000;
  HandleException(p);
  std::string out = testing::internal::GetCapturedStdout();
  const std::string head = "Content-Type: text/html\r\n\r\n<html><head><title>shop</title></head><body>\r\n";
  EXPECT_EQ(out.rfind(head, 0), 0u) << out;
  EXPECT_NE(out.find(">failed: no &lt;b&gt;stock&lt;/b&gt;.</p>"), std::string::npos) << out;
  size_t report = out.find("visibility:hidden;\">\r\ndate/time");
  EXPECT_NE(report, std::string::npos) << out;
  EXPECT_NE(out.find("\r\nexception message", report), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 43), "</textarea></td></tr></table></body></html>");
  EXPECT_EQ(out.find("failed: no <b>"), std::string::npos);  // no console line

  // A replaced builder writes the page; without the CGI variable the console line comes back.
  SetWebExceptionPageBuilder([](const std::string&, IRVException* record) { return "page of " + record->ExceptMessage(); });
  testing::internal::CaptureStdout();
  p.object = MakeOwnException("again");
  HandleException(p);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Content-Type: text/html\r\n\r\npage of again.");
  SetWebExceptionPageBuilder(nullptr);
  unsetenv("GATEWAY_INTERFACE");
  testing::internal::CaptureStdout();
  HandleException(p);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("failed: again.\r\n", 0), 0u) << out;
  SetMainSettings(nullptr);
  ClearMemoryModules();
}

struct DeliverSpy {
  static inline int calls = 0;
  static inline bool background = false, silent = false;
  static inline void* parent = reinterpret_cast<void*>(1);
  static bool Deliver(IRVException*, WindowHandle w, void** slot, bool bg, bool quiet) {
    ++calls, parent = w, background = bg, silent = quiet;
    if (slot) *slot = reinterpret_cast<void*>(0x5e4d);
    return true;
  }
};

TEST(Pipeline, AutomaticSendIsSilentInTheBackgroundAndAwaitedOnlyWhenAsked) {
  constexpr ModuleHandle kModule = 0x7280000;
  UseConsoleSettings(kModule, rvxtest::SettingsStream().Bool("Enabled", true).Bool("NoSettings", false)
                                  .Bool("AutoSend", true).Bool("AutoSave", false));
  const RecordHooks saved = GetRecordHooks();
  RecordHooks spy = saved;
  spy.deliver = DeliverSpy::Deliver;
  SetRecordHooks(spy);
  testing::internal::CaptureStdout();
  HandleParams p;
  p.object = MakeOwnException("send me");
  p.address = 0x401000;
  HandleException(p);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(DeliverSpy::calls, 1);
  EXPECT_TRUE(DeliverSpy::background);
  EXPECT_TRUE(DeliverSpy::silent);
  EXPECT_EQ(DeliverSpy::parent, nullptr);

  ExceptionParams rp;
  rp.settings = SettingsOfModule(kModule);
  rp.object = MakeOwnException("x");
  rp.dontCompleteYet = true;
  auto record = NewExceptionRecord(rp);
  void** slot = record->SendThreadSlot();
  *slot = reinterpret_cast<void*>(0x5e4d);
  FinishAutomaticActions(record.get(), false);
  EXPECT_NE(*slot, nullptr);  // continuing does not wait for the sending
  FinishAutomaticActions(record.get(), true);
  EXPECT_EQ(*slot, nullptr);  // ending waited for it and forgot the thread
  SetRecordHooks(saved);
  SetMainSettings(nullptr);
  ClearMemoryModules();
}

TEST(SystemInformation, Durations) {
  EXPECT_EQ(DurationText(90061), "1 day 1 hour ");
  EXPECT_EQ(DurationText(7260), "2 hours 1 minute ");
  EXPECT_EQ(DurationText(59), "59 seconds ");
  EXPECT_EQ(DurationText(61), "1 minute 1 second ");
  EXPECT_EQ(DurationText(0), "");
  EXPECT_EQ(DurationText(-5), "");
  EXPECT_EQ(UpTimeText(1300, 1000), "300 milliseconds");
  EXPECT_EQ(UpTimeText(62000, 1000), "1 minute 1 second ");
  EXPECT_EQ(CleanCpuName("  Intel(R)    Core  i7  "), "Intel(R) Core i7");
  EXPECT_EQ(MemoryText(0x60000000ULL, 0x100000000ULL), "1536/4096 MB (free/total)");
  EXPECT_EQ(ResourcesText(5, 73), "05/73 (gdi/user)");
  EXPECT_EQ(CountProcessors({"a", "b", "c", "d", "e", "f", "g", ""}), 8);
  EXPECT_EQ(CountProcessors(std::vector<std::string>(15, "x")), 16);
}

TEST(ThreadSections, RegistersAndStackDump) {
  TContext c{};
  c.Eax = 0x12;
  c.Ebp = 0xdeadbeef;
  std::string regs = CpuRegistersText(c);
  EXPECT_EQ(regs.substr(0, 15), "eax = 00000012\r");
  EXPECT_EQ(regs.substr(regs.size() - 14), "ebp = deadbeef");
  uint8_t bytes[24];
  for (int i = 0; i < 24; ++i) bytes[i] = static_cast<uint8_t>(i < 8 ? i + 1 : 0x41 + i - 8);
  std::string dump = StackDumpText(0x12f5a0, bytes, 24);
  EXPECT_EQ(dump.substr(0, dump.find('\r')),
            "0012f5a0  01 02 03 04 05 06 07 08 - 41 42 43 44 45 46 47 48  ........ABCDEFGH");
  std::string last = dump.substr(dump.find('\n') + 1);
  EXPECT_EQ(last, "0012f5b0  49 4a 4b 4c 4d 4e 4f 50                            IJKLMNOP");
  EXPECT_EQ(StackDumpText(0, bytes, 0), "");
}

TEST(ThreadSections, Titles) {
  UpdateThreadEntry(0xa10, "main thread");
  UpdateThreadEntry(0xa11, "Ravex - HandleExceptionThread");
  UpdateThreadEntry(0xa12, "", 0xa10, 0x401234, "TWorker");
  EXPECT_EQ(ThreadTitle(0xa10, false), "main thread ($a10)");
  EXPECT_EQ(ThreadTitle(0xa11, false), "");
  EXPECT_EQ(ThreadTitle(0xa11, true), "Ravex - HandleExceptionThread ($a11)");
  uint32_t creator = 0, creatorThread = 0;
  EXPECT_EQ(ThreadTitle(0xa12, false, &creator, &creatorThread), "thread $a12 (TWorker)");
  EXPECT_EQ(creator, 0x401234u);
  EXPECT_EQ(creatorThread, 0xa10u);
  EXPECT_EQ(ThreadTitle(0xbad, false), "thread $bad");
  UpdateThreadEntry(0xa12, "");
  EXPECT_EQ(ThreadTitle(0xa12, false), "thread $a12");
}

TEST(Checksum, ImageChecksumRules) {
  std::vector<uint8_t> pe(0x200, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3c] = 0x80;
  std::memcpy(&pe[0x80], "PE\0\0", 4);
  size_t offset = 0;
  ASSERT_TRUE(PeChecksumOffset(pe.data(), pe.size(), offset));
  EXPECT_EQ(offset, 0x80u + 4 + 20 + 64);
  uint32_t empty = ImageChecksum(pe.data(), pe.size(), offset);
  // The checksum field itself does not count.
  pe[offset] = 0xff;
  EXPECT_EQ(ImageChecksum(pe.data(), pe.size(), offset), empty);
  // Carries wrap around: 0xffff + 0x0002 = 0x0002 (with the carry) ...
  std::vector<uint8_t> words{0xff, 0xff, 0x02, 0x00, 0x07};
  EXPECT_EQ(ImageChecksum(words.data(), words.size(), 100), 0x0002u + 0x0007u + 5u - 0u + 0u);
  EXPECT_FALSE(PeChecksumOffset(words.data(), words.size(), offset));
}

TEST(Checksum, WideSumAgreesWithWordByWordAddition) {
  // The textbook form: every 16-bit word added with its carry wrapped round at once.
  auto reference = [](const std::vector<uint8_t>& d, size_t skip) {
    uint32_t sum = 0;
    for (size_t i = 0; i < d.size(); i += 2) {
      if ((i == skip || i == skip + 2) && i + 1 < d.size()) continue;
      sum += d[i] | (i + 1 < d.size() ? d[i + 1] << 8 : 0);
      sum = (sum & 0xffff) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(d.size());
  };
  uint32_t seed = 12345;
  auto next = [&] { return static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16); };
  for (size_t size : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 63u, 64u, 65u, 4097u, 300001u}) {
    for (uint8_t fill : {0x00, 0xff, 0x5a}) {
      std::vector<uint8_t> d(size);
      for (auto& b : d) b = fill == 0x5a ? next() : fill;
      for (size_t skip : {size_t(0), size_t(2), size_t(4), size_t(0x58), size / 2 & ~size_t(1)}) {
        uint32_t expected = reference(d, skip);
        EXPECT_EQ(ImageChecksum(d.data(), d.size(), skip), expected) << size << " " << int(fill) << " " << skip;
        // Read in pieces of 4, 8 and 4096 bytes, as the program file is at start-up.
        for (size_t piece : {4u, 8u, 4096u}) {
          ImageChecksummer sum(skip);
          for (size_t at = 0; at < d.size(); at += piece) sum.Add(d.data() + at, std::min(piece, d.size() - at));
          EXPECT_EQ(sum.Finish(), expected) << size << " " << int(fill) << " " << skip << " piece " << piece;
        }
      }
    }
  }
}

}  // namespace
}  // namespace rvx
