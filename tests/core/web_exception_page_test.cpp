// The web exception page: every piece of the page for the switches that change it, the texts that come
// from the exception written as HTML text, the page of a record's settings and the CGI test.
#include <gtest/gtest.h>

#include <string>

#include "core/settings_stream.h"
#include "crash/core/exception_record.h"
#include "crash/core/web_exception_page.h"

namespace rvx {
namespace {

const std::string kReport =
    "date/time         : 2026-12-09, 10:00:00, 1ms\r\n"
    "exception class   : EOops\r\n"
    "exception message : it broke.\r\n"
    "\r\n"
    "main thread ($1a4):\r\n"
    "00401000 lab.exe lab.cpp 12 Run";

WebPageTexts LabTexts() {
  WebPageTexts t;
  t.titleBar = "lab";
  t.exceptMsg = "Failed:%LF%%exceptMsg% (%exceptClass%)";
  t.continueBtnTxt = "go on";
  t.showBtnTxt = "details";
  return t;
}

// The page as written out by hand, with the three pieces that the switches change.
std::string ExpectedPage(const std::string& continueCaption, const std::string& showCell, const std::string& style) {
  return "<html><head><title>lab</title></head><body>\r\n"
         "<table border=\"0\" width=\"100%\" height=\"100%\">\r\n"
         "<tr><td colspan=4 style=\"height:2pt;\"></td></tr>\r\n"
         "<tr><td colspan=4 valign=\"top\">"
         "<p style=\"font-family:Tahoma,'MS Sans Serif';font-size:13pt;margin-left:4px;\">"
         "Failed:<br>\r\nit broke. (EOops)"
         "</p></td></tr>\r\n<tr><td colspan=4 style=\"height:8pt;\"></td></tr>\r\n"
         "<tr><td><button onClick=\"history.back();\" style=\"height:19.5pt;\">&nbsp;" +
         continueCaption +
         "&nbsp;</button></td>\r\n"
         "<td><p>&nbsp;&nbsp;</p></td>\r\n<td>" +
         showCell +
         "</td>\r\n<td width=\"100%\"></td></tr>\r\n<tr><td colspan=4 style=\"height:8pt;\"></td></tr>\r\n"
         "<tr><td colspan=4 height=\"100%\">\r\n"
         "<textarea id=\"bugReport\" readonly cols=\"80\" rows=\"20\" style=\"width:100%;height:100%;" +
         style + "\">\r\n" + kReport + "</textarea></td></tr></table></body></html>";
}

const std::string kShowButton =
    "<button onClick=\"document.getElementById('bugReport').style.visibility='visible';"
    "this.style.visibility='hidden';\" style=\"height:19.5pt;\">&nbsp;details&nbsp;</button>";

TEST(WebExceptionPage, EveryPieceForTheSwitches) {
  WebPageTexts t = LabTexts();
  EXPECT_EQ(ComposeWebExceptionPage(t, kReport), ExpectedPage("go on", kShowButton, "visibility:hidden;"));

  // A hidden continue button still leads back, under a fixed caption.
  t.continueBtnVis = false;
  EXPECT_EQ(ComposeWebExceptionPage(t, kReport),
            ExpectedPage("continue application", kShowButton, "visibility:hidden;"));

  // Without the show button the report stays hidden for good; the report shown at once needs no button.
  t = LabTexts();
  t.showBtnVis = false;
  EXPECT_EQ(ComposeWebExceptionPage(t, kReport), ExpectedPage("go on", "&nbsp;", "visibility:hidden;"));
  t.showBtnVis = true;
  t.autoShowBugRep = true;
  EXPECT_EQ(ComposeWebExceptionPage(t, kReport), ExpectedPage("go on", "&nbsp;", ""));
  t.showBtnVis = false;
  EXPECT_EQ(ComposeWebExceptionPage(t, kReport), ExpectedPage("go on", "&nbsp;", ""));
}

TEST(WebExceptionPage, MessagePlaceholders) {
  WebPageTexts t = LabTexts();
  // %LF% in any letter case; the report placeholder inserts the report; a report without the header items
  // gives the class as empty and the message as "Unknown".
  t.exceptMsg = "a%lf%b%Lf%%bugReport%|%exceptMsg%|%exceptClass%|";
  std::string page = ComposeWebExceptionPage(t, "plain text");
  EXPECT_NE(page.find(">a<br>\r\nb<br>\r\nplain text|Unknown||</p>"), std::string::npos) << page;
}

TEST(WebExceptionPage, TextsOfTheExceptionCannotBecomeMarkup) {
  WebPageTexts t = LabTexts();
  t.exceptMsg = "<b>%exceptMsg%</b>";  // the program's own markup stays
  const std::string report =
      "exception class   : E<i>\r\n"
      "exception message : bad <script>alert(1)</script> & more\r\n"
      "\r\n"
      "input:\r\n"
      "</textarea><script>alert(2)</script>&lt;kept&gt;";
  std::string page = ComposeWebExceptionPage(t, report);
  EXPECT_NE(page.find("<b>bad &lt;script&gt;alert(1)&lt;/script&gt; &amp; more</b>"), std::string::npos) << page;
  EXPECT_EQ(page.find("<script>"), std::string::npos) << page;
  EXPECT_EQ(page.find("<i>"), std::string::npos);
  // One text area end only: the page's own; entities in the report show as typed.
  EXPECT_EQ(page.find("</textarea>"), page.rfind("</textarea>"));
  EXPECT_NE(page.find("&lt;/textarea&gt;&lt;script&gt;alert(2)&lt;/script&gt;&amp;lt;kept&amp;gt;</textarea>"),
            std::string::npos)
      << page;
}

TEST(WebExceptionPage, BuiltFromTheRecordsStoredTexts) {
  constexpr ModuleHandle kModule = 0x7310000;
  ClearMemoryModules();
  SetMemoryModule(kModule, L"C:\\web\\shop.exe");
  SetMemoryResource(kModule, "ZAVEDO",
                    rvxtest::SettingsStream()
                        .Bool("Enabled", true)
                        .Text("TitleBar", "%modname% failed")
                        .Text("ExceptMsg", "Sorry.%LF%%exceptMsg%")
                        .Bool("ContinueBtnVis", false)
                        .Text("ShowBtnTxt", "more")
                        .End());
  ExceptionParams p;
  p.settings = SettingsOfModule(kModule);
  p.object = MakeOwnException("x");
  p.dontCompleteYet = true;
  auto record = NewExceptionRecord(p);
  // A setting the record overrides wins over the module's.
  record->SetAutoShowBugRep(true);
  std::string page = BuildWebExceptionPage(kReport, record.get());
  EXPECT_EQ(page.rfind("<html><head><title>shop.exe failed</title></head><body>\r\n", 0), 0u) << page;
  EXPECT_NE(page.find("margin-left:4px;\">Sorry.<br>\r\nit broke.</p>"), std::string::npos) << page;
  EXPECT_NE(page.find("&nbsp;continue application&nbsp;"), std::string::npos);
  EXPECT_NE(page.find("<td>&nbsp;</td>"), std::string::npos);
  EXPECT_NE(page.find("height:100%;\">\r\n" + kReport + "</textarea>"), std::string::npos);
  record = nullptr;
  ClearMemoryModules();
}

std::string OtherBuilder(const std::string& report, IRVException*) { return "[" + report + "]"; }

TEST(WebExceptionPage, BuilderIsReplaceableAndResponseHasTheContentType) {
  EXPECT_EQ(GetWebExceptionPageBuilder(), &BuildWebExceptionPage);
  SetWebExceptionPageBuilder(&OtherBuilder);
  EXPECT_EQ(GetWebExceptionPageBuilder()("r", nullptr), "[r]");
  SetWebExceptionPageBuilder(nullptr);
  EXPECT_EQ(GetWebExceptionPageBuilder(), &BuildWebExceptionPage);
  EXPECT_EQ(WebExceptionResponse("<p>"), "Content-Type: text/html\r\n\r\n<p>");
}

TEST(WebExceptionPage, CgiGatewayInterface) {
  EXPECT_TRUE(IsCgiGatewayInterface("CGI/1.1"));
  EXPECT_TRUE(IsCgiGatewayInterface("cgi/1.0"));
  EXPECT_FALSE(IsCgiGatewayInterface(nullptr));
  EXPECT_FALSE(IsCgiGatewayInterface(""));
  EXPECT_FALSE(IsCgiGatewayInterface("CGI"));
  EXPECT_FALSE(IsCgiGatewayInterface("CGI/"));
  EXPECT_FALSE(IsCgiGatewayInterface("HTTP/1.1"));
  EXPECT_FALSE(IsCgiGatewayInterface(" CGI/1.1"));
}

}  // namespace
}  // namespace rvx
