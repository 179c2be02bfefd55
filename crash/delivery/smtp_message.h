// The texts of a bug report mail: addresses, the encoded subject, date and message identifier, the header,
// the MIME frame around body and attachments, and the body made safe for the DATA phase.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rvx::smtp {

// Separates the parts of a multipart body (also used by the HTTP upload).
inline constexpr std::string_view kMultipartBoundary = "Ravex_5e0c29b7_multipart_boundary";

// Recipients separated by "," or ";", trimmed, without empty entries.
std::vector<std::string> SplitAddresses(std::string_view list);
// An address as SMTP commands carry it: from its "<" to the end when it has one, else "<" + address + ">".
std::string AngleAddress(std::string_view address);
// True when the text holds a byte below 32 or the byte 127 (a CR or LF would end a command early).
bool HasControlBytes(std::string_view text);

// "=?ISO-8859-1?Q?...?=" with every byte that is no ASCII letter or digit written as "=XX"; with `utf8`,
// "=?UTF-8?B?...?=" over the subject converted from the ANSI code page.
std::string EncodeSubject(std::string_view subject, bool utf8);

// A time in the platform's file-time units: 100 ns since 1601-01-01 UTC.
uint64_t CurrentFileTime();
// "8 Dec 2026 13:05:09 UT".
std::string DateText(uint64_t fileTime);
// "<" + 16 lower-case hex digits + "@Ravex>".
std::string MessageId(uint64_t fileTime);

struct MessageTexts {
  std::vector<std::string> recipients;  // as split
  std::string sender;
  std::string subject;                  // as given; encoded here
  bool utf8Subject = false;
  uint64_t fileTime = 0;
};
// The header lines, each ending with CR LF.
std::string MessageHeader(const MessageTexts& texts);

// The body as it travels in DATA: every CR, LF or CR LF becomes CR LF, and every line that begins with "."
// gets a second "." in front (the receiver removes it again).
std::string DataSafeBody(std::string_view body);

// What follows the header of a message with attachments, up to and including the body and its line end.
std::string MultipartPreamble(std::string_view safeBody);
// The closing delimiter after the last part.
std::string MultipartEnd();

// "image/png" for a path ending in ".png" (any case), else "application/octet-stream".
std::string ContentTypeOf(std::wstring_view path);
// The header of one attachment part, ending with the empty line. Double quotes and backslashes in the name
// are escaped.
std::string AttachmentHeader(std::wstring_view path, std::string_view sendAs);
// Attachments are read in pieces of this size: each becomes one base64 line of 76 characters.
inline constexpr size_t kAttachmentPiece = 57;

}  // namespace rvx::smtp
