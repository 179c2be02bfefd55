// Printing a report through the system's print path into a file: the installed printer's driver writes the
// document, the chooser stands in for the print dialog. Also the record's print action and the refusals.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crash/core/exception_record.h"
#include "crash/core/report_printer.h"
#include "crash/ui/print_report.h"

namespace rvx {
namespace {

std::string g_printer, g_output;
int g_chooserCalls = 0;
WindowHandle g_owner = nullptr;

// The first installed printer, or empty.
std::string FirstPrinter() {
  char name[512];
  DWORD size = sizeof name;
  if (GetDefaultPrinterA(name, &size)) return name;
  DWORD needed = 0, count = 0;
  EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &count);
  if (!needed) return {};
  std::vector<BYTE> buffer(needed);
  if (!EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, buffer.data(), needed, &needed, &count) ||
      !count)
    return {};
  return reinterpret_cast<PRINTER_INFO_4A*>(buffer.data())->pPrinterName;
}

bool ChooseFile(WindowHandle owner, PrintTarget& target) {
  ++g_chooserCalls;
  g_owner = owner;
  target.dc = CreateDCA(nullptr, g_printer.c_str(), nullptr, nullptr);
  target.outputFile = g_output;
  return target.dc != nullptr;
}

bool Cancel(WindowHandle, PrintTarget&) {
  ++g_chooserCalls;
  return false;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TempFile(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + "print_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

class PrintReportTest : public testing::Test {
 protected:
  void SetUp() override {
    g_printer = FirstPrinter();
    if (g_printer.empty()) GTEST_SKIP() << "no printer installed";
    g_chooserCalls = 0;
    SetPrinterChooser(&ChooseFile);
  }
  void TearDown() override { SetPrinterChooser(nullptr); }
};

TEST_F(PrintReportTest, LongReportGoesIntoTheFile) {
  g_output = TempFile("long.prn");
  DeleteFileA(g_output.c_str());
  std::string report;
  for (int i = 0; i < 400; ++i) report += "line " + std::to_string(i) + " & more text that wraps\r\n\r\n";
  auto* owner = reinterpret_cast<WindowHandle>(GetDesktopWindow());
  EXPECT_FALSE(PrintReport(report, owner, nullptr));  // the result is always false
  EXPECT_EQ(g_chooserCalls, 1);
  EXPECT_EQ(g_owner, owner);
  std::string printed = ReadAll(g_output);
  EXPECT_GT(printed.size(), 1000u) << g_printer;
  DeleteFileA(g_output.c_str());
}

TEST_F(PrintReportTest, RefusalsPrintNothing) {
  // The dialog cancelled.
  SetPrinterChooser(&Cancel);
  EXPECT_FALSE(PrintReport("text", nullptr, nullptr));
  EXPECT_EQ(g_chooserCalls, 1);
  // The document cannot be started (its file cannot be made): nothing drawn, nothing left behind.
  SetPrinterChooser(&ChooseFile);
  g_output = TempFile("missing\\folder\\x.prn");
  EXPECT_FALSE(PrintReport("text", nullptr, nullptr));
  EXPECT_EQ(GetFileAttributesA(g_output.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PrintReportTest, EmptyReportStillPrintsAPage) {
  g_output = TempFile("empty.prn");
  DeleteFileA(g_output.c_str());
  PrintReport("", nullptr, nullptr);
  EXPECT_GT(ReadAll(g_output).size(), 0u);
  DeleteFileA(g_output.c_str());
}


TEST_F(PrintReportTest, RecordsPrintActionPrintsItsReport) {
  g_output = TempFile("record.prn");
  DeleteFileA(g_output.c_str());
  constexpr ModuleHandle kModule = 0x7350000;
  SetMemoryModule(kModule, L"C:\\lab\\printing.exe");
  SetMemoryResource(kModule, "ZAVEDO", std::string("TPF0\x06ZAvedo\x05Ravex", 17) + std::string(2, '\0'));
  const RecordHooks saved = GetRecordHooks();
  RecordHooks hooks = saved;
  hooks.print = PrintRecordReport;
  SetRecordHooks(hooks);
  SetReportPrinter(&PrintReport);
  ExceptionParams p;
  p.settings = SettingsOfModule(kModule);
  p.object = MakeOwnException("print me");
  auto record = NewExceptionRecord(p);
  EXPECT_FALSE(record->PrintBugReport(nullptr));
  EXPECT_EQ(g_chooserCalls, 1);
  EXPECT_GT(ReadAll(g_output).size(), 0u);
  record = nullptr;
  SetReportPrinter(nullptr);
  SetRecordHooks(saved);
  ClearMemoryModules();
  DeleteFileA(g_output.c_str());
}

}  // namespace
}  // namespace rvx
