#include "crash/core/web_exception_page.h"

#include <atomic>
#include <cstdlib>

#include "crash/core/settings.h"
#include "crash/delivery/send.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {

std::atomic<WebExceptionPageBuilder> g_builder{&BuildWebExceptionPage};

// The stored ExceptMsg of the record (its own override, its module's, the default), not yet expanded.
std::string StoredExceptMsg(IRVException& record) {
  if (auto access = Query<ISettingsAccess>(&record)) {
    if (auto property = access->Object()->Lookup("ExceptMsg")) return property->textValue;
    return {};
  }
  return record.ExceptMsg();
}

}  // namespace

std::string HtmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ComposeWebExceptionPage(const WebPageTexts& t, const std::string& report) {
  const std::string cls = HtmlText(ReportHeaderLine(report, "exception class"));
  const std::string msg = HtmlText(ReportHeaderLine(report, "exception message"));
  const std::string reportHtml = HtmlText(report);
  std::string message = t.exceptMsg;
  ReplaceText(message, "%LF%", "<br>\r\n", true);
  message = ExpandPlaceholders(std::move(message), t.module, PlaceholderOperands{&cls, &reportHtml, &msg});

  std::string page;
  page.reserve(reportHtml.size() + message.size() + 1500);
  page += "<html><head><title>" + t.titleBar + "</title></head><body>\r\n";
  page += "<table border=\"0\" width=\"100%\" height=\"100%\">\r\n";
  page += "<tr><td colspan=4 style=\"height:2pt;\"></td></tr>\r\n";
  page += "<tr><td colspan=4 valign=\"top\">"
          "<p style=\"font-family:Tahoma,'MS Sans Serif';font-size:13pt;margin-left:4px;\">";
  page += message;
  page += "</p></td></tr>\r\n<tr><td colspan=4 style=\"height:8pt;\"></td></tr>\r\n";
  page += "<tr><td><button onClick=\"history.back();\" style=\"height:19.5pt;\">&nbsp;";
  page += t.continueBtnVis ? t.continueBtnTxt : std::string("continue application");
  page += "&nbsp;</button></td>\r\n";
  page += "<td><p>&nbsp;&nbsp;</p></td>\r\n<td>";
  if (!t.autoShowBugRep && t.showBtnVis) {
    page += "<button onClick=\"document.getElementById('bugReport').style.visibility='visible';"
            "this.style.visibility='hidden';\" style=\"height:19.5pt;\">&nbsp;";
    page += t.showBtnTxt;
    page += "&nbsp;</button>";
  } else {
    page += "&nbsp;";
  }
  page += "</td>\r\n<td width=\"100%\"></td></tr>\r\n<tr><td colspan=4 style=\"height:8pt;\"></td></tr>\r\n"
          "<tr><td colspan=4 height=\"100%\">\r\n";
  page += "<textarea id=\"bugReport\" readonly cols=\"80\" rows=\"20\" style=\"width:100%;height:100%;";
  if (!t.autoShowBugRep) page += "visibility:hidden;";
  page += "\">\r\n";
  page += reportHtml;
  page += "</textarea></td></tr></table></body></html>";
  return page;
}

std::string BuildWebExceptionPage(const std::string& report, IRVException* record) {
  WebPageTexts t;
  if (record) {
    t.module = record->Module();
    t.titleBar = record->TitleBar();
    t.exceptMsg = StoredExceptMsg(*record);
    t.continueBtnTxt = record->ContinueBtnTxt();
    t.showBtnTxt = record->ShowBtnTxt();
    t.continueBtnVis = record->ContinueBtnVis();
    t.showBtnVis = record->ShowBtnVis();
    t.autoShowBugRep = record->AutoShowBugRep();
  }
  return ComposeWebExceptionPage(t, report);
}

void SetWebExceptionPageBuilder(WebExceptionPageBuilder builder) {
  g_builder.store(builder ? builder : &BuildWebExceptionPage);
}

WebExceptionPageBuilder GetWebExceptionPageBuilder() { return g_builder.load(); }

std::string WebExceptionResponse(const std::string& page) { return "Content-Type: text/html\r\n\r\n" + page; }

bool IsCgiGatewayInterface(const char* value) {
  if (!value || !StartsWithCI(value, "CGI/")) return false;
  std::string_view version(value + 4);
  return !version.empty() && (version[0] >= '0' && version[0] <= '9');
}

bool RunsAsCgiProgram() { return IsCgiGatewayInterface(std::getenv("GATEWAY_INTERFACE")); }

}  // namespace rvx
