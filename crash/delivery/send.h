// The one operation that sends a bug report: in a background thread when asked, with the mail texts from the
// settings, the attachments under a progress window, the configured delivery method (HTTP upload, direct
// SMTP delivery or an SMTP server), then MAPI and the mail program as fallbacks, the failure message, and at
// the end the record's "sent" mark and the removal of the report file.
//
// Everything the sending asks of the system goes through SendPlatform, so the sequence itself is portable;
// SystemSendPlatform() is the real one (send_win.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crash/core/refobject.h"
#include "crash/core/settings.h"

namespace rvx {

class IProgressAlert;
class IRVException;
struct MailJob;

// What the sending needs of the record's screenshot object: saving it as a PNG file of a format code.
class IScreenshotPicture : public virtual IRefCounted {
 public:
  virtual bool SaveAsPng(const std::wstring& file, int format) = 0;
};

// Saves a screenshot object as a PNG file; false for an object that is no IScreenshotPicture or a file
// that was not written completely. Both platforms' saveScreenshot.
bool SaveScreenshotPicture(IRefCounted& picture, const std::wstring& file, int format);

struct SendRequest {
  std::string report;             // the complete bug report text
  Ref<IRefCounted> screenshot;    // or none
  void* parent = nullptr;         // the window that owns the dialogs, or none
  bool silent = false;            // no dialling, no mail program, no failure message; progress only with AutoSendBox
  bool inBackground = false;      // send in a background thread when possible
  Ref<IRVSettings> settings;      // an exception record or plain settings
  bool inSendingThread = false;   // already running in the background sending thread
  void** threadHandle = nullptr;  // receives a started thread's handle; none: the handle is closed
};

// Results of the MAPI hand-over (same values as MapiResult).
enum : int { kSendMapiFailed = 0, kSendMapiSent = 1, kSendMapiCancelled = 2 };

struct SendPlatform {
  // Starts a plain thread running `body`; its handle, or null when it could not be started (`body` is then
  // destroyed without running).
  std::function<void*(std::function<void()> body)> startThread;
  std::function<void(void* handle)> closeHandle;
  std::function<bool(uint32_t waitMs)> processBlocked;
  std::function<void(void* window)> makeNotTopmost;  // no move, no resize
  // A progress window (not shown yet), or none.
  std::function<Ref<IProgressAlert>(const std::string& title, ModuleHandle pictureModule,
                                    const std::string& pictureName)>
      createProgress;
  std::function<bool(bool tryDial)> isOnline;
  std::function<bool(MailJob& job)> sendJob;  // upload or SMTP; fills job.error on failure
  std::function<int(const std::string& recipients, const std::string& subject, const std::string& body,
                    bool silent, void* parent, const std::vector<std::string>& sendAs,
                    const std::vector<std::wstring>& files)>
      sendViaMapi;
  std::function<bool(const std::string& recipients, const std::string& subject, const std::string& body)>
      sendViaMailClient;
  // The failure message box (error icon, the system's default caption) owned by `parent`.
  std::function<void(void* parent, const std::string& text)> showFailure;
  std::function<void(const std::wstring& file)> removeFile;  // clears the attributes, then deletes
  std::wstring programFile;                                  // names the temporary folder
  // Saves the screenshot object as PNG; unset: screenshots are not attached.
  std::function<bool(IRefCounted& picture, const std::wstring& file, int format)> saveScreenshot;
  // Writes the report into a file the way saving does; unset: the record's own saving, or the report file
  // rules of the settings for plain settings.
  std::function<bool(const SendRequest& request, const std::wstring& file)> saveReport;
};

// Sends the report; true when it was sent or a background thread was started to send it.
bool DeliverBugReport(const SendRequest& request, const SendPlatform& platform);
bool DeliverBugReport(const std::string& report, Ref<IRefCounted> screenshot, void* parent, bool silent,
                      bool inBackground, Ref<IRVSettings> settings, bool inSendingThread, void** threadHandle);

// The system's platform (send_win.cpp; elsewhere one that starts threads and sends nothing).
const SendPlatform& SystemSendPlatform();

// The progress window's maker, registered by the progress window's unit; without one the sending runs
// without a window.
using ProgressAlertFactory = Ref<IProgressAlert> (*)(std::string_view title, ModuleHandle pictureModule,
                                                      std::string_view pictureName);
void SetProgressAlertFactory(ProgressAlertFactory factory);
ProgressAlertFactory GetProgressAlertFactory();

// ---- pieces of the sequence, open for tests -------------------------------------------------------------

// The sender made from the first address of the recipients when MailFrom is empty: "Ravex <a@x>", or with
// an address that has a display name, "Ravex " followed by the address from its "<" on. Empty without
// recipients.
std::string ComposeSender(std::string_view mailFrom, std::string_view recipients);

// The value of a report header line ("exception class", "exception message"): the text after the line's
// first ":", trimmed; empty when there is no such line.
std::string ReportHeaderLine(std::string_view report, std::string_view name);

// The areas of the progress window for the switched-on methods, with their weights.
struct ProgressArea {
  std::string text;
  int64_t weight;
  friend bool operator==(const ProgressArea&, const ProgressArea&) = default;
};
std::vector<ProgressArea> SendProgressAreas(IRVSettings& settings, bool haveAttachments);

// The exception record's send hook: closes the handle of the previous send thread in `sendThread` and sends
// the record's complete report with its screenshot.
bool DeliverRecordReport(IRVException* record, void* parent, void** sendThread, bool background, bool silent);

}  // namespace rvx
