// Handing a bug report to the mail program registered for "mailto" links: the recipient list in the form
// the mail programs expect, the escaped mailto address and the command line that starts the program.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rvx {

// The recipient list with ";" turned into "," and the blanks around the separators (and at both ends)
// removed: "a@x ; b@y" -> "a@x,b@y".
std::string NormaliseRecipients(std::string_view list);
// The addresses of a recipient list, empty entries left out.
std::vector<std::string> SplitRecipients(std::string_view list);

// Writes LF, CR, blank, '"', '#', '%', '&', '+', '<', '>' and '?' as "%XX" (upper-case hex digits); every
// other byte, also non-ASCII ones, stays as it is.
std::string MailtoEscape(std::string_view text);

// "mailto:" + recipients + "?subject=" + escaped subject + "&body=" + escaped body. The recipients are
// normalised and separated by ";" instead of "," when `semicolons` is set.
std::string MailtoAddress(std::string_view recipients, std::string_view subject, std::string_view body,
                          bool semicolons);

// The longest command line the system starts.
inline constexpr size_t kMaxCommandLine = 32766;

// Cuts a command line longer than `limit` characters to `limit`, one or two characters shorter when the cut
// would split a "%XX" escape.
std::string CutCommandLine(std::string line, size_t limit = kMaxCommandLine);

// The command line that starts the mail program: every "%1" of the registered (already expanded) command
// replaced by the mailto address, or the address appended after a blank (none when the command already
// ends with one). A command that names "OUTLOOK" (any case) gets the recipients separated by ";".
// `limitLength` applies CutCommandLine.
std::string MailClientCommandLine(std::string_view command, std::string_view recipients, std::string_view subject,
                                  std::string_view body, bool limitLength = true);

// Starts the mail program registered for "mailto" links with a new message; whether it could be started.
// The mail program's later behaviour is not awaited.
bool SendViaMailClient(std::string_view recipients, std::string_view subject, std::string_view body);

}  // namespace rvx
