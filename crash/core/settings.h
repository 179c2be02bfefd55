// Crash reporter settings: the named settings of a module, read once per module from its "ZAVEDO" resource
// into a process-wide registry, answered by typed getters with built-in defaults behind them, with
// placeholder expansion, the assistants that the settings define and the form cache.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crash/core/refobject.h"
#include "crash/delivery/fields.h"

namespace rvx {

using ModuleHandle = uintptr_t;

// ---- stored settings ----------------------------------------------------------------------------------

enum class SettingKind : uint8_t { Text = 0, Integer = 1, Boolean = 2 };

struct TSettingsProperty {
  std::string name;  // compared case-sensitively
  SettingKind kind = SettingKind::Text;
  bool boolValue = false;
  int32_t intValue = 0;
  std::string textValue;                // system code page
  std::optional<std::wstring> wideText;  // set when stored through the UTF-16 setter
};
using PropertyList = std::vector<TSettingsProperty>;

// Parses a settings resource ("TPF0", class "ZAvedo", object "Ravex", property list). A stream without the
// signature and both names gives an empty list. An unknown value type stops parsing with a message (through
// SettingsMessage); what was read stays. Truncated data stops parsing quietly. Returns false when anything
// was wrong; `error` then says what.
bool ParseSettingsResource(std::string_view data, PropertyList& properties, std::string* error = nullptr);

// The settings resource held by a file: a resource file itself ("TPF0" stream), or the RCDATA "ZAVEDO" of a
// Windows program or library image (PE). False with a message for anything else.
bool ExtractSettingsResource(std::string_view file, std::string& resource, std::string& error);
// The raw bytes of resource `type`/`name` (first language) in a PE image held in memory.
bool FindPeResource(std::string_view image, uint16_t type, std::string_view name, std::string& data,
                    std::string& error);

// Deciphers the stored SmtpPassword and HttpPassword of a freshly read list in place.
void DecodeStoredPasswords(PropertyList& properties);
// The stored form of a password (what the resource holds) for a server and account name.
std::string EncodeStoredPassword(std::string_view password, std::string_view server, std::string_view account);

// One row of the built-in defaults table.
struct SettingDefault {
  const char* name;
  SettingKind kind;
  bool boolValue;
  int32_t intValue;
  const char* textValue;
};
// The built-in defaults, in table order (VersionVar last).
const std::vector<SettingDefault>& SettingDefaults();
const SettingDefault* FindSettingDefault(std::string_view name);

// ---- assistants (built by the assistant engine) -------------------------------------------------------

enum class AssistantItemKind { Other, Edit, CheckBox };

// What the settings need of an assistant: its forms and their edits and check boxes.
class INVAssistant : public virtual IRefCounted {
 public:
  virtual int FormCount() = 0;
  virtual bool FormContinued(int form) = 0;  // closed with the continue result
  virtual int ItemCount(int form) = 0;
  virtual AssistantItemKind ItemKind(int form, int item) = 0;
  virtual std::string ItemName(int form, int item) = 0;
  virtual std::string ItemText(int form, int item) = 0;
  virtual void SetItemText(int form, int item, std::string_view text) = 0;
  virtual bool ItemChecked(int form, int item) = 0;
  virtual void SetItemChecked(int form, int item, bool checked) = 0;
  virtual bool ContinueEnabled(int form) = 0;
  virtual void ActivateContinue(int form) = 0;
  // Runs the pages over an owner window (may be null): 1 completed, 3 cancelled.
  virtual int ShowModal(void* owner) { return 3; }
  // Writes the entries of the pages closed with Continue into a report's header items and sections.
  virtual void PutIntoReport(IRVFields& header, IRVFields& sections) {}
};

class TIRVSettings;
struct AssistantRequest {
  ModuleHandle module = 0;
  std::string name;
  std::string title;
  std::vector<std::string> forms;
  TIRVSettings* settings = nullptr;  // the asking object (an exception record or a module's settings)
};
using AssistantFactory = Ref<INVAssistant> (*)(const AssistantRequest& request);
// The assistant engine registers how it builds assistants; without one, assistant by name answers none.
void SetAssistantFactory(AssistantFactory factory);

// ---- interfaces ---------------------------------------------------------------------------------------

// Slot lists: X(kind, Name) with kind BOOL/INT/UINT/TEXT (get and set), or GET_/SET_ variants.
#define RVX_SETTINGS_SLOTS_AUTO(X)                                                                       \
  X(BOOL, AutoSave) X(BOOL, AutoSaveIfNotSent) X(BOOL, AutoSend) X(BOOL, AutoSendBox) X(BOOL, AutoClip) \
  X(BOOL, PauseThreads) X(BOOL, PlWaitBox) X(BOOL, AutoContinue) X(INT, AutoRestart) X(INT, AutoClose)  \
  X(INT, AutoDelay)
#define RVX_SETTINGS_SLOTS_BUTTONS(X)                                                                    \
  X(GET_BOOL, SendBtnVis) X(GET_BOOL, SaveBtnVis) X(GET_BOOL, PrintBtnVis) X(GET_BOOL, ShowBtnVis)       \
  X(GET_BOOL, ContinueBtnVis) X(GET_BOOL, RestartBtnVis) X(GET_BOOL, CloseBtnVis)                       \
  X(SET_BOOL, SendBtnVis) X(SET_BOOL, SaveBtnVis) X(SET_BOOL, PrintBtnVis) X(SET_BOOL, ShowBtnVis)       \
  X(SET_BOOL, ContinueBtnVis) X(SET_BOOL, RestartBtnVis) X(SET_BOOL, CloseBtnVis)
#define RVX_SETTINGS_SLOTS_SENDING(X)                                                                    \
  X(UINT, FocusedBtn) X(TEXT, SendAssis) X(TEXT, SaveAssis) X(TEXT, PrintAssis) X(BOOL, AutoShowBugRep) \
  X(BOOL, UglyBtns) X(TEXT, MailAddr) X(BOOL, SendInBackgr) X(BOOL, MailAsSmtpServer)                   \
  X(BOOL, MailAsSmtpClient) X(BOOL, UploadViaHttp) X(BOOL, MailViaMapi) X(BOOL, MailViaMailto)          \
  X(TEXT, SmtpServer) X(INT, SmtpPort) X(TEXT, SmtpAccount) X(TEXT, SmtpPassword) X(TEXT, HttpServer)   \
  X(INT, HttpPort) X(TEXT, HttpAccount) X(TEXT, HttpPassword) X(TEXT, MailFrom)
#define RVX_SETTINGS_SLOTS_ATTACH(X)                                                                     \
  X(BOOL, AttachBugRep) X(BOOL, AttachBugRepFile) X(BOOL, DelBugRepFile) X(TEXT, BugRepSendAs)          \
  X(TEXT, BugRepZip) X(INT, ScrShotDepth) X(BOOL, ScrShotAppOnly) X(TEXT, ScrShotSendAs) X(TEXT, ScrShotZip)
#define RVX_SETTINGS_SLOTS_REPORT(X)                                                                     \
  X(BOOL, AppendBugReps) X(INT, BugRepFileSize) X(BOOL, NoDupExcepts) X(BOOL, NoDupFreezes)             \
  X(UINT, DupExceptDef) X(UINT, DupFreezeDef) X(BOOL, ListThreads) X(BOOL, CpuRegs) X(BOOL, StackDump)  \
  X(BOOL, ShowDisAsm) X(BOOL, HideUglyItems) X(BOOL, ShowRelAddrs) X(BOOL, ShowRelLines)                \
  X(BOOL, FormatDisAsm) X(INT, LimitDisAsm)
#define RVX_SETTINGS_SLOTS_MESSAGES(X) \
  X(TEXT, TitleBar) X(TEXT, ExceptMsg) X(TEXT, FrozenMsg) X(TEXT, BitFaultMsg)
#define RVX_SETTINGS_SLOTS_BUTTON_TEXTS(X)                                                               \
  X(GET_TEXT, SendBtnTxt) X(GET_TEXT, SaveBtnTxt) X(GET_TEXT, PrintBtnTxt) X(GET_TEXT, ShowBtnTxt)       \
  X(GET_TEXT, ContinueBtnTxt) X(GET_TEXT, RestartBtnTxt) X(GET_TEXT, CloseBtnTxt)                       \
  X(SET_TEXT, SendBtnTxt) X(SET_TEXT, SaveBtnTxt) X(SET_TEXT, PrintBtnTxt) X(SET_TEXT, ShowBtnTxt)       \
  X(SET_TEXT, ContinueBtnTxt) X(SET_TEXT, RestartBtnTxt) X(SET_TEXT, CloseBtnTxt)                       \
  X(GET_TEXT, OkBtnTxt) X(GET_TEXT, DetailsBtnTxt) X(SET_TEXT, OkBtnTxt) X(SET_TEXT, DetailsBtnTxt)      \
  X(GET_TEXT, PlWaitTitle) X(GET_TEXT, PlWaitText) X(SET_TEXT, PlWaitTitle) X(SET_TEXT, PlWaitText)
#define RVX_SETTINGS_SLOTS_SEND_TEXTS(X)                                                                 \
  X(TEXT, MailSubj) X(TEXT, MailBody) X(TEXT, SendBoxTitle) X(TEXT, PrepAttMsg) X(TEXT, MxLookMsg)      \
  X(TEXT, ConnMsg) X(TEXT, AuthMsg) X(TEXT, SendMailMsg) X(TEXT, FieldMsg) X(TEXT, SendAttMsg)          \
  X(TEXT, SendFinalMsg) X(TEXT, SendFailMsg)
// Module-level settings: the filters in the order NoBugRep, NoScrShot, NoSuspend, NoHandlers, ShowCfg, Assis.
#define RVX_FILTER_SLOTS(X, Kind, Suffix)                                                                \
  X(GET_##Kind, F1##Suffix) X(GET_##Kind, F2##Suffix) X(GET_##Kind, Gn##Suffix)                           \
  X(SET_##Kind, F1##Suffix) X(SET_##Kind, F2##Suffix) X(SET_##Kind, Gn##Suffix)
#define RVX_MODULE_SLOTS(X)                                                                              \
  X(GET_BOOL, Enabled) X(GET_FLAG, MinDebugInfo) X(GET_BOOL, NoSettings) X(GET_BOOL, CheckFileCrc)      \
  X(GET_BOOL, CheckFreeze) X(GET_UINT, FreezeTimeout) X(GET_TEXT, F1Classes) X(GET_TEXT, F2Classes)     \
  X(SET_TEXT, F1Classes) X(SET_TEXT, F2Classes) RVX_FILTER_SLOTS(X, BOOL, NoBugRep)                     \
  RVX_FILTER_SLOTS(X, BOOL, NoScrShot) RVX_FILTER_SLOTS(X, BOOL, NoSuspend)                             \
  RVX_FILTER_SLOTS(X, BOOL, NoHandlers) RVX_FILTER_SLOTS(X, UINT, ShowCfg) RVX_FILTER_SLOTS(X, TEXT, Assis)

#define RVX_DECLARE_GET_BOOL(N) virtual bool N() = 0;
#define RVX_DECLARE_SET_BOOL(N) virtual bool Set##N(bool value) = 0;
#define RVX_DECLARE_GET_INT(N) virtual int32_t N() = 0;
#define RVX_DECLARE_SET_INT(N) virtual bool Set##N(int32_t value) = 0;
#define RVX_DECLARE_GET_UINT(N) virtual uint32_t N() = 0;
#define RVX_DECLARE_SET_UINT(N) virtual bool Set##N(uint32_t value) = 0;
#define RVX_DECLARE_GET_TEXT(N) virtual std::string N() = 0;
#define RVX_DECLARE_SET_TEXT(N) virtual bool Set##N(std::string_view value) = 0;
#define RVX_DECLARE_GET_FLAG(N) virtual bool N() = 0;
#define RVX_DECLARE_BOOL(N) RVX_DECLARE_GET_BOOL(N) RVX_DECLARE_SET_BOOL(N)
#define RVX_DECLARE_INT(N) RVX_DECLARE_GET_INT(N) RVX_DECLARE_SET_INT(N)
#define RVX_DECLARE_UINT(N) RVX_DECLARE_GET_UINT(N) RVX_DECLARE_SET_UINT(N)
#define RVX_DECLARE_TEXT(N) RVX_DECLARE_GET_TEXT(N) RVX_DECLARE_SET_TEXT(N)
#define RVX_DECLARE_SLOT(Kind, N) RVX_DECLARE_##Kind(N)

class IRVSettings : public virtual IRefCounted {
 public:
  virtual ModuleHandle Module() = 0;
  RVX_SETTINGS_SLOTS_AUTO(RVX_DECLARE_SLOT)
  RVX_SETTINGS_SLOTS_BUTTONS(RVX_DECLARE_SLOT)
  RVX_SETTINGS_SLOTS_SENDING(RVX_DECLARE_SLOT)
  virtual Ref<IRVFields> AddFields() = 0;
  RVX_SETTINGS_SLOTS_ATTACH(RVX_DECLARE_SLOT)
  virtual Ref<IRVAttachments> AddAttachs() = 0;
  virtual std::wstring BugRepFile() = 0;
  virtual bool SetBugRepFile(std::wstring_view value) = 0;
  RVX_SETTINGS_SLOTS_REPORT(RVX_DECLARE_SLOT)
  virtual bool PluginEnabled(std::string_view name) = 0;
  virtual bool SetPluginEnabled(std::string_view name, bool enabled) = 0;
  virtual std::string VersionText() = 0;
  virtual Ref<INVAssistant> Assistant(std::string_view name) = 0;
  RVX_SETTINGS_SLOTS_MESSAGES(RVX_DECLARE_SLOT)
  RVX_SETTINGS_SLOTS_BUTTON_TEXTS(RVX_DECLARE_SLOT)
  RVX_SETTINGS_SLOTS_SEND_TEXTS(RVX_DECLARE_SLOT)
};

class IRVModuleSettings : public virtual IRVSettings {
 public:
  virtual bool Valid() = 0;
  RVX_MODULE_SLOTS(RVX_DECLARE_SLOT)
  virtual void Reload() = 0;
};

// Private to the crash reporter: modules use it on each other's settings objects.
class ISettingsAccess : public virtual IRefCounted {
 public:
  virtual bool ReadBool(std::string_view name) = 0;
  virtual int32_t ReadInt(std::string_view name) = 0;
  virtual std::string ReadText(std::string_view name) = 0;
  virtual std::wstring ReadWideText(std::string_view name) = 0;
  virtual uint32_t ReadUInt(std::string_view name) = 0;
  virtual void FillFormCache(INVAssistant& assistant) = 0;
  virtual void RefillFromFormCache(INVAssistant& assistant) = 0;
  virtual TIRVSettings* Object() = 0;
};

// ---- the settings object ------------------------------------------------------------------------------

struct TModuleSettingsEntry;
struct TSettingsRegistry;

#define RVX_IMPL_GET_BOOL(N) \
  bool N() override { return ReadBool(#N); }
#define RVX_IMPL_SET_BOOL(N) \
  bool Set##N(bool value) override { return WriteBool(#N, value); }
#define RVX_IMPL_GET_INT(N) \
  int32_t N() override { return ReadInt(#N); }
#define RVX_IMPL_SET_INT(N) \
  bool Set##N(int32_t value) override { return WriteInt(#N, value); }
#define RVX_IMPL_GET_UINT(N) \
  uint32_t N() override { return ReadUInt(#N); }
#define RVX_IMPL_SET_UINT(N) \
  bool Set##N(uint32_t value) override { return WriteInt(#N, static_cast<int32_t>(value)); }
#define RVX_IMPL_GET_TEXT(N) \
  std::string N() override { return ReadText(#N); }
#define RVX_IMPL_SET_TEXT(N) \
  bool Set##N(std::string_view value) override { return WriteText(#N, value); }
#define RVX_IMPL_GET_FLAG(N) \
  bool N() override { return !ReadText(#N).empty(); }
#define RVX_IMPL_BOOL(N) RVX_IMPL_GET_BOOL(N) RVX_IMPL_SET_BOOL(N)
#define RVX_IMPL_INT(N) RVX_IMPL_GET_INT(N) RVX_IMPL_SET_INT(N)
#define RVX_IMPL_UINT(N) RVX_IMPL_GET_UINT(N) RVX_IMPL_SET_UINT(N)
#define RVX_IMPL_TEXT(N) RVX_IMPL_GET_TEXT(N) RVX_IMPL_SET_TEXT(N)
#define RVX_IMPL_SLOT(Kind, N) RVX_IMPL_##Kind(N)

// The settings of one module, or (constructed over a module's settings) a layered object whose own
// overrides come first: the base of the exception record.
class TIRVSettings : public RefObject<IRVModuleSettings, ISettingsAccess>, public IListOwnerSettings {
 public:
  // The settings of `module` as its resource says (no discovery).
  explicit TIRVSettings(ModuleHandle module);
  ~TIRVSettings() override;

  ModuleHandle Module() override { return module_; }
  RVX_SETTINGS_SLOTS_AUTO(RVX_IMPL_SLOT)
  RVX_SETTINGS_SLOTS_BUTTONS(RVX_IMPL_SLOT)
  RVX_SETTINGS_SLOTS_SENDING(RVX_IMPL_SLOT)
  Ref<IRVFields> AddFields() override;
  RVX_SETTINGS_SLOTS_ATTACH(RVX_IMPL_SLOT)
  Ref<IRVAttachments> AddAttachs() override;
  std::wstring BugRepFile() override { return ReadWideText("BugRepFile"); }
  bool SetBugRepFile(std::wstring_view value) override { return WriteWideText("BugRepFile", value); }
  RVX_SETTINGS_SLOTS_REPORT(RVX_IMPL_SLOT)
  bool PluginEnabled(std::string_view name) override;
  bool SetPluginEnabled(std::string_view name, bool enabled) override;
  std::string VersionText() override { return versionText_; }
  Ref<INVAssistant> Assistant(std::string_view name) override;
  RVX_SETTINGS_SLOTS_MESSAGES(RVX_IMPL_SLOT)
  RVX_SETTINGS_SLOTS_BUTTON_TEXTS(RVX_IMPL_SLOT)
  RVX_SETTINGS_SLOTS_SEND_TEXTS(RVX_IMPL_SLOT)

  bool Valid() override { return valid_; }
  RVX_MODULE_SLOTS(RVX_IMPL_SLOT)
  void Reload() override;

  bool ReadBool(std::string_view name) override;
  int32_t ReadInt(std::string_view name) override;
  std::string ReadText(std::string_view name) override;
  std::wstring ReadWideText(std::string_view name) override;
  uint32_t ReadUInt(std::string_view name) override { return static_cast<uint32_t>(ReadInt(name)); }
  void FillFormCache(INVAssistant& assistant) override;
  void RefillFromFormCache(INVAssistant& assistant) override;
  TIRVSettings* Object() override { return this; }

  bool WriteBool(std::string_view name, bool value);
  bool WriteInt(std::string_view name, int32_t value);
  bool WriteText(std::string_view name, std::string_view value);
  bool WriteWideText(std::string_view name, std::wstring_view value);

  // The setting as stored (own list, then for a layered object its module's, then the defaults when they
  // may answer, then the main settings), without placeholder expansion.
  std::optional<TSettingsProperty> Lookup(std::string_view name);
  // The form cache (created on first use).
  Ref<IRVFields> FormCache();

  bool StoreListText(std::string_view name, std::string_view value) override { return WriteText(name, value); }

 protected:
  // A layered object over a module's settings (always valid, own overrides initially empty).
  explicit TIRVSettings(Ref<IRVModuleSettings> moduleSettings);

  // Operands of placeholder expansion for an exception record; a plain settings object has none and leaves
  // "%exceptClass%" and "%exceptMsg%" as they are.
  virtual bool IsExceptionRecord() { return false; }
  virtual std::string ExceptionClassText() { return {}; }
  virtual std::string ExceptionMessageText() { return {}; }
  // Whether the record will have a screenshot (the assistant drops the screenshot form otherwise).
  virtual bool WillHaveScreenshot() { return true; }

  Ref<IRVModuleSettings> moduleSettings_;  // layered objects only

 private:
  bool DefaultsAllowed();
  std::string Expand(std::string text);
  std::wstring Expand(std::wstring text);
  bool Write(std::string_view name, SettingKind kind, const TSettingsProperty& value);
  PropertyList& WritableList();

  bool valid_ = false;
  ModuleHandle module_ = 0;
  TSettingsRegistry* registry_ = nullptr;
  TModuleSettingsEntry* entry_ = nullptr;
  PropertyList own_;  // layered objects: own overrides
  std::mutex ownMutex_;
  std::string versionText_;
  std::mutex listsMutex_;
  Ref<IRVFields> fields_;
  Ref<IRVAttachments> attachments_;
  Ref<IRVFields> formCache_;
};

// ---- module-level operations --------------------------------------------------------------------------

// Settings of a module, or of the module found by discovery when it has no usable settings.
Ref<IRVModuleSettings> SettingsOfModule(ModuleHandle module);
// Settings of the module containing the caller's return address, or that many frame-pointer frames up.
Ref<IRVModuleSettings> SettingsOfCaller();
Ref<IRVModuleSettings> SettingsOfCallerUp(int frames);
// The first settings in the process that are valid and not NoSettings.
Ref<IRVModuleSettings> FindSettings();

// The process's main settings (those of the crash reporter's own module, kept from start to end).
void SetMainSettings(Ref<IRVModuleSettings> settings);
Ref<IRVModuleSettings> MainSettings();

// ---- placeholders -------------------------------------------------------------------------------------

// Operands left out (null) stay as placeholders in the text.
struct PlaceholderOperands {
  const std::string* exceptClass = nullptr;
  const std::string* bugReport = nullptr;
  const std::string* exceptMsg = nullptr;
};
std::string ExpandPlaceholders(std::string text, ModuleHandle module, const PlaceholderOperands& operands = {});
std::wstring ExpandPlaceholders(std::wstring text, ModuleHandle module, const PlaceholderOperands& operands = {});

// ---- platform layer -----------------------------------------------------------------------------------

// Shows a message of the settings code (a message box with caption "Ravex" on Windows). Replaceable.
using SettingsMessageHook = void (*)(const std::string& text);
void SetSettingsMessageHook(SettingsMessageHook hook);  // null restores the default
void SettingsMessage(const std::string& text);

namespace settings_platform {
void ShowMessage(const std::string& text);  // message box "Ravex" (standard error natively)
// The raw bytes of a module's RCDATA resource.
bool ReadRcData(ModuleHandle module, std::string_view name, std::string& data);
ModuleHandle ProgramModule();
ModuleHandle OwnModule();
ModuleHandle ModuleOfAddress(const void* address);
std::wstring ModuleFileName(ModuleHandle module);
std::wstring FileVersionText(ModuleHandle module);  // "a.b.c.d" or empty
std::string ReadVersionVar(ModuleHandle module, int32_t offset);
std::vector<ModuleHandle> ModulesWithSettings();  // every loaded module that carries "ZAVEDO"
ModuleHandle DesignHostModule();  // the design-time host package when loaded, else 0
// The return address `frames` frame-pointer frames above `frame`, read only where memory is readable.
const void* ReturnAddressUp(const void* frame, int frames, const void* fallback);
std::wstring ComputerName();
enum class Folder { Desktop, UserAppData, CommonAppData };
std::wstring FolderPath(Folder folder);  // empty when the system cannot name it
struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime Now();
// Process-wide registry anchor: returns the registry with one more reference, or null on failure.
TSettingsRegistry* AcquireRegistry();
void ReleaseRegistry(TSettingsRegistry* registry);
}  // namespace settings_platform

// In-memory modules that stand beside the loaded ones (tests, tools, resources held in memory): their
// resources and file names answer before the system is asked.
void SetMemoryModule(ModuleHandle module, std::wstring fileName);
void SetMemoryResource(ModuleHandle module, std::string name, std::string data);
void ClearMemoryModules();
bool ReadModuleRcData(ModuleHandle module, std::string_view name, std::string& data);
std::wstring ModuleFile(ModuleHandle module);

// Registry pieces shared by the platform layers.
// The first bytes of every registry block. A module that finds a registry's address through the named anchor
// reads them (without faulting) and uses the block only when they name this block of this process; a block
// loses them when it is freed.
struct TRegistryStamp {
  uint32_t marker;
  uintptr_t self;  // the block's own address
  uint32_t processId;
};
TSettingsRegistry* NewSettingsRegistry(uint32_t processId = 0);
bool RegistryStampMatches(const TRegistryStamp& stamp, uintptr_t address, uint32_t processId);
size_t SettingsRegistrySize();
void DeleteSettingsRegistry(TSettingsRegistry* registry);
uint32_t& RegistryRefCount(TSettingsRegistry* registry);
void*& RegistryMapping(TSettingsRegistry* registry);

}  // namespace rvx
