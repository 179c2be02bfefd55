// The HTML page that a web-server (CGI) program writes to standard output instead of showing the exception
// box: the exception text, a button back to the previous page, a button that reveals the bug report, and
// the report itself in a read-only text area. Also the test whether the program runs as a CGI program.
// Portable: no system calls.
#pragma once

#include <string>
#include <string_view>

#include "crash/core/exception_record.h"

namespace rvx {

// What the page takes from the settings. `exceptMsg` is the stored text before placeholder expansion, so
// that its "%LF%" can become an HTML line break.
struct WebPageTexts {
  ModuleHandle module = 0;
  std::string titleBar;
  std::string exceptMsg;
  std::string continueBtnTxt;
  std::string showBtnTxt;
  bool continueBtnVis = true;
  bool showBtnVis = true;
  bool autoShowBugRep = false;
};

// The page for these texts and a report. Texts that come from the exception (its class and message, read
// from the report's header, and the report itself) are written as HTML text: "&", "<" and ">" become
// entities, so a browser shows them as they are and nothing in them can end the text area or start markup.
std::string ComposeWebExceptionPage(const WebPageTexts& texts, const std::string& report);

// The builder the process starts with: the page for the record's settings.
std::string BuildWebExceptionPage(const std::string& report, IRVException* record);

// The builder in use, process-wide; setting null brings back BuildWebExceptionPage.
using WebExceptionPageBuilder = std::string (*)(const std::string& report, IRVException* record);
void SetWebExceptionPageBuilder(WebExceptionPageBuilder builder);
WebExceptionPageBuilder GetWebExceptionPageBuilder();

// What a CGI program writes: the content type, an empty line and the page.
std::string WebExceptionResponse(const std::string& page);

// "&", "<" and ">" as entities.
std::string HtmlText(std::string_view text);

// Whether a value of GATEWAY_INTERFACE says the program was started by a web server as a CGI program
// ("CGI/" and a version, in any letter case). Null: the variable is not set.
bool IsCgiGatewayInterface(const char* value);
// Whether this process runs as a CGI program (its environment has such a GATEWAY_INTERFACE).
bool RunsAsCgiProgram();

}  // namespace rvx
