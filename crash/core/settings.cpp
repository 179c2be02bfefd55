#include "crash/core/settings.h"
#include "crash/delivery/fields.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>

#include "crash/delivery/cipher.h"
#include "crash/stack/text.h"

namespace rvx {

// ---- registry -----------------------------------------------------------------------------------------

struct TModuleSettingsEntry {
  uint32_t refCount = 0;
  ModuleHandle module = 0;
  PropertyList properties;
  TModuleSettingsEntry* next = nullptr;
};

struct TSettingsRegistry {
  TRegistryStamp stamp{};  // first, at the block's address
  uint32_t refCount = 0;
  void* mapping = nullptr;  // handle of the naming mapping (Windows)
  std::mutex lock;
  TModuleSettingsEntry* head = nullptr;
};

namespace {
constexpr uint32_t kRegistryMarker = 0x53585652;  // "RVXS"
}  // namespace

TSettingsRegistry* NewSettingsRegistry(uint32_t processId) {
  auto* registry = new TSettingsRegistry;
  registry->stamp = {kRegistryMarker, reinterpret_cast<uintptr_t>(registry), processId};
  return registry;
}

bool RegistryStampMatches(const TRegistryStamp& stamp, uintptr_t address, uint32_t processId) {
  return address != 0 && stamp.marker == kRegistryMarker && stamp.self == address && stamp.processId == processId;
}

size_t SettingsRegistrySize() { return sizeof(TSettingsRegistry); }

void DeleteSettingsRegistry(TSettingsRegistry* registry) {
  // A stale address of a freed block must never pass for a registry again.
  registry->stamp = {};
  delete registry;
}
uint32_t& RegistryRefCount(TSettingsRegistry* registry) { return registry->refCount; }
void*& RegistryMapping(TSettingsRegistry* registry) { return registry->mapping; }

// ---- messages -----------------------------------------------------------------------------------------

namespace {
std::atomic<SettingsMessageHook> g_messageHook{nullptr};
}  // namespace

void SetSettingsMessageHook(SettingsMessageHook hook) { g_messageHook.store(hook); }
void SettingsMessage(const std::string& text) {
  SettingsMessageHook hook = g_messageHook.load();
  (hook ? hook : settings_platform::ShowMessage)(text);
}

// ---- resource parsing ---------------------------------------------------------------------------------

namespace {

constexpr uint32_t kPasswordSeed1 = 0x5EC2A7D1;
constexpr uint32_t kPasswordSeed2 = 0x3B91F04C;

class StreamReader {
 public:
  explicit StreamReader(std::string_view d) : d_(d) {}
  bool Bytes(size_t n, std::string_view& out) {
    if (d_.size() - pos_ < n) return false;
    out = d_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  bool Byte(uint8_t& b) {
    std::string_view s;
    if (!Bytes(1, s)) return false;
    b = static_cast<uint8_t>(s[0]);
    return true;
  }
  bool Int(size_t size, int32_t& v) {
    std::string_view s;
    if (!Bytes(size, s)) return false;
    uint32_t u = 0;
    for (size_t i = 0; i < size; ++i) u |= uint32_t{static_cast<uint8_t>(s[i])} << (8 * i);
    if (size < 4 && (u >> (8 * size - 1)) & 1) u |= ~0u << (8 * size);  // sign extension
    v = static_cast<int32_t>(u);
    return true;
  }
  bool ShortString(std::string_view& s) {
    uint8_t n;
    return Byte(n) && Bytes(n, s);
  }
  bool LongBytes(size_t unit, std::string_view& s) {
    int32_t n;
    if (!Int(4, n) || n < 0 || static_cast<uint64_t>(n) * unit > d_.size() - pos_) return false;
    return Bytes(static_cast<size_t>(n) * unit, s);
  }

 private:
  std::string_view d_;
  size_t pos_ = 0;
};

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

TSettingsProperty* FindProperty(PropertyList& list, std::string_view name) {
  for (auto& p : list)
    if (p.name == name) return &p;
  return nullptr;
}

}  // namespace

bool ParseSettingsResource(std::string_view data, PropertyList& properties, std::string* error) {
  properties.clear();
  properties.reserve(131);
  StreamReader r(data);
  std::string_view sig, cls, obj;
  if (!r.Bytes(4, sig) || sig != "TPF0" || !r.ShortString(cls) || cls != "ZAvedo" || !r.ShortString(obj) ||
      obj != "Ravex") {
    SetError(error, "not a settings resource (expected \"TPF0\", class ZAvedo, object Ravex)");
    return false;
  }
  for (;;) {
    std::string_view name;
    uint8_t type;
    if (!r.ShortString(name)) break;
    if (name.empty()) return true;
    if (!r.Byte(type)) break;
    TSettingsProperty p;
    p.name = name;
    std::string_view s;
    int32_t v;
    bool ok = true;
    switch (type) {
      case 2: case 3: case 4:
        ok = r.Int(type == 2 ? 1 : type == 3 ? 2 : 4, v);
        p.kind = SettingKind::Integer, p.intValue = v;
        break;
      case 6:
        ok = r.ShortString(s);
        p.textValue = s;
        break;
      case 8: case 9:
        p.kind = SettingKind::Boolean, p.boolValue = type == 9;
        break;
      case 12:
        ok = r.LongBytes(1, s);
        p.textValue = s;
        break;
      case 18: {
        ok = r.LongBytes(2, s);
        std::wstring w(s.size() / 2, L'\0');
        for (size_t i = 0; i < w.size(); ++i)
          w[i] = static_cast<wchar_t>(static_cast<uint8_t>(s[2 * i]) | static_cast<uint8_t>(s[2 * i + 1]) << 8);
        p.textValue = WideToAnsi(w);
        break;
      }
      case 20:
        ok = r.LongBytes(1, s);
        p.textValue = WideToAnsi(DecodeUtf8Text(s));
        break;
      default: {
        std::string text = "Internal error: Invalid settings resource (" + HexText(type, 1, '0') + ").";
        SettingsMessage(text);
        SetError(error, text);
        return false;
      }
    }
    if (!ok) break;
    if (TSettingsProperty* old = FindProperty(properties, p.name))
      *old = std::move(p);
    else
      properties.push_back(std::move(p));
  }
  SetError(error, "settings resource ends early (after " + DecimalText(properties.size()) + " settings)");
  return false;
}

void DecodeStoredPasswords(PropertyList& properties) {
  static const char* const kStored[2][3] = {{"SmtpPassword", "SmtpServer", "SmtpAccount"},
                                            {"HttpPassword", "HttpServer", "HttpAccount"}};
  for (const auto& names : kStored) {
    TSettingsProperty* pw = FindProperty(properties, names[0]);
    if (!pw || pw->textValue.empty()) continue;
    TSettingsProperty* server = FindProperty(properties, names[1]);
    TSettingsProperty* account = FindProperty(properties, names[2]);
    std::string stage = CounterDecipher(Base64Decode(pw->textValue), server ? server->textValue : "", kPasswordSeed1);
    pw->textValue = CounterDecipher(stage, account ? account->textValue : "", kPasswordSeed2);
    pw->wideText.reset();
  }
}

namespace {
std::string Padded(std::string_view text) {
  size_t n = 8 - text.size() % 8;
  return std::string(text) + std::string(n, static_cast<char>(n));
}
}  // namespace

std::string EncodeStoredPassword(std::string_view password, std::string_view server, std::string_view account) {
  if (password.empty()) return {};
  std::string inner = CounterCipher(Padded(password), account, kPasswordSeed2);
  return Base64Encode(CounterCipher(Padded(inner), server, kPasswordSeed1));
}

// ---- resources in program files ----------------------------------------------------------------------

namespace {

uint32_t U32(std::string_view d, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{static_cast<uint8_t>(d[at + i])} << (8 * i);
  return v;
}
uint16_t U16(std::string_view d, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | static_cast<uint8_t>(d[at + 1]) << 8);
}
bool Fits(std::string_view d, uint64_t at, uint64_t size) { return at <= d.size() && size <= d.size() - at; }

struct PeSection {
  uint32_t va, vsize, rawSize, rawOffset;
};

// File offset of `size` bytes at `rva`, or -1.
int64_t RvaToOffset(std::string_view image, const std::vector<PeSection>& sections, uint32_t rva, uint32_t size) {
  for (const auto& s : sections) {
    uint32_t span = std::max(s.vsize, s.rawSize);
    if (rva < s.va || rva - s.va >= span) continue;
    uint64_t inSection = rva - s.va;
    if (inSection + size > s.rawSize) return -1;
    uint64_t off = uint64_t{s.rawOffset} + inSection;
    return Fits(image, off, size) ? static_cast<int64_t>(off) : -1;
  }
  return -1;
}

}  // namespace

bool FindPeResource(std::string_view image, uint16_t type, std::string_view name, std::string& data,
                    std::string& error) {
  if (!Fits(image, 0, 0x40) || image.substr(0, 2) != "MZ") return error = "not a program image", false;
  uint32_t pe = U32(image, 0x3C);
  if (!Fits(image, pe, 24) || image.substr(pe, 4) != std::string_view("PE\0\0", 4))
    return error = "no PE header", false;
  uint16_t sectionCount = U16(image, pe + 6), optSize = U16(image, pe + 20);
  size_t opt = pe + 24;
  if (!Fits(image, opt, optSize) || optSize < 2) return error = "truncated optional header", false;
  uint16_t magic = U16(image, opt);
  size_t countAt = magic == 0x20B ? 108 : 92, dirs = magic == 0x20B ? 112 : 96;
  if (magic != 0x10B && magic != 0x20B) return error = "unknown optional header", false;
  if (optSize < dirs + 3 * 8 || U32(image, opt + countAt) < 3) return error = "no resource directory", false;
  uint32_t resRva = U32(image, opt + dirs + 16), resSize = U32(image, opt + dirs + 20);
  if (resRva == 0 || resSize < 16) return error = "no resources", false;
  std::vector<PeSection> sections;
  size_t sec = opt + optSize;
  if (!Fits(image, sec, uint64_t{sectionCount} * 40)) return error = "truncated section table", false;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    size_t h = sec + i * 40u;
    sections.push_back({U32(image, h + 12), U32(image, h + 8), U32(image, h + 16), U32(image, h + 20)});
  }
  int64_t root = RvaToOffset(image, sections, resRva, 16);
  if (root < 0) return error = "resource directory outside the file", false;
  // The resource tree lies inside its section: every offset below is relative to the tree's start.
  std::string_view tree = image.substr(static_cast<size_t>(root));
  enum class By { First, Id, Name };
  auto findEntry = [&](uint32_t dir, By by, uint32_t id, std::string_view wanted, uint32_t& target) {
    if (!Fits(tree, dir, 16)) return false;
    uint32_t named = U16(tree, dir + 12), ids = U16(tree, dir + 14);
    if (!Fits(tree, dir + 16, uint64_t{named + ids} * 8)) return false;
    for (uint32_t i = 0; i < named + ids; ++i) {
      size_t e = dir + 16 + i * 8;
      uint32_t key = U32(tree, e), off = U32(tree, e + 4);
      bool match;
      if (by == By::First) {
        match = true;
      } else if (by == By::Name) {
        if (!(key & 0x80000000u)) continue;
        uint32_t s = key & 0x7FFFFFFFu;
        if (!Fits(tree, s, 2)) continue;
        uint16_t len = U16(tree, s);
        if (len != wanted.size() || !Fits(tree, s + 2, uint64_t{len} * 2)) continue;
        match = true;
        for (uint16_t k = 0; k < len && match; ++k) {
          uint16_t c = U16(tree, s + 2 + 2u * k);
          match = c < 256 && kLowerCase[c] == kLowerCase[static_cast<uint8_t>(wanted[k])];
        }
      } else {
        match = !(key & 0x80000000u) && key == id;
      }
      if (match) {
        target = off;
        return true;
      }
    }
    return false;
  };
  uint32_t typeDir, nameDir, leaf;
  if (!findEntry(0, By::Id, type, {}, typeDir) || !(typeDir & 0x80000000u))
    return error = "no resources of type " + DecimalText(type), false;
  if (!findEntry(typeDir & 0x7FFFFFFFu, By::Name, 0, name, nameDir) || !(nameDir & 0x80000000u))
    return error = "no resource named \"" + std::string(name) + "\"", false;
  if (!findEntry(nameDir & 0x7FFFFFFFu, By::First, 0, {}, leaf) || (leaf & 0x80000000u) || !Fits(tree, leaf, 16))
    return error = "damaged resource directory", false;
  uint32_t dataRva = U32(tree, leaf), dataSize = U32(tree, leaf + 4);
  int64_t at = RvaToOffset(image, sections, dataRva, dataSize);
  if (at < 0) return error = "resource data outside the file", false;
  data.assign(image.substr(static_cast<size_t>(at), dataSize));
  return true;
}

bool ExtractSettingsResource(std::string_view file, std::string& resource, std::string& error) {
  if (file.substr(0, 4) == "TPF0") {
    resource.assign(file);
    return true;
  }
  if (file.substr(0, 2) == "MZ") {
    if (FindPeResource(file, 10, "ZAVEDO", resource, error)) return true;
    error = "no RCDATA \"ZAVEDO\" resource (" + error + ")";
    return false;
  }
  error = "neither a settings resource nor a program image";
  return false;
}

// ---- built-in defaults --------------------------------------------------------------------------------

namespace {
constexpr SettingKind B = SettingKind::Boolean, I = SettingKind::Integer, T = SettingKind::Text;
#define RVX_DB(name, v) {name, B, v, 0, ""}
#define RVX_DI(name, v) {name, I, false, v, ""}
#define RVX_DT(name, v) {name, T, false, 0, v}
const std::vector<SettingDefault> kDefaults = {
    // general
    RVX_DB("Enabled", false), RVX_DB("NoSettings", true), RVX_DB("CheckFileCrc", true),
    RVX_DB("CheckFreeze", false), RVX_DI("FreezeTimeout", 60), RVX_DT("Plugins", "modules|processes|hardware"),
    // automatic actions
    RVX_DB("AutoSave", true), RVX_DB("AutoSaveIfNotSent", true), RVX_DB("AutoSend", false),
    RVX_DB("AutoSendBox", false), RVX_DB("AutoClip", true), RVX_DB("PauseThreads", false),
    RVX_DB("PlWaitBox", true), RVX_DB("AutoContinue", false), RVX_DI("AutoRestart", 0), RVX_DI("AutoClose", 0),
    RVX_DI("AutoDelay", 60),
    // exception box
    RVX_DB("SendBtnVis", true), RVX_DB("SaveBtnVis", false), RVX_DB("PrintBtnVis", false),
    RVX_DB("ShowBtnVis", true), RVX_DB("ContinueBtnVis", true), RVX_DB("RestartBtnVis", true),
    RVX_DB("CloseBtnVis", true), RVX_DI("FocusedBtn", 0), RVX_DT("SendAssis", ""), RVX_DT("SaveAssis", ""),
    RVX_DT("PrintAssis", ""), RVX_DB("AutoShowBugRep", false), RVX_DB("UglyBtns", false),
    // sending
    RVX_DT("MailAddr", ""), RVX_DB("SendInBackgr", true), RVX_DB("MailAsSmtpServer", false),
    RVX_DB("MailAsSmtpClient", false), RVX_DB("UploadViaHttp", false), RVX_DB("MailViaMapi", true),
    RVX_DB("MailViaMailto", true), RVX_DT("SmtpServer", ""), RVX_DI("SmtpPort", 25), RVX_DT("SmtpAccount", ""),
    RVX_DT("SmtpPassword", ""), RVX_DT("HttpServer", ""), RVX_DI("HttpPort", 80), RVX_DT("HttpAccount", ""),
    RVX_DT("HttpPassword", ""), RVX_DT("MailFrom", ""), RVX_DT("AddFields", ""),
    // attachments and files
    RVX_DB("AttachBugRep", true), RVX_DB("AttachBugRepFile", true), RVX_DB("DelBugRepFile", true),
    RVX_DT("BugRepSendAs", "bugreport.txt"), RVX_DT("BugRepZip", ""), RVX_DI("ScrShotDepth", 0),
    RVX_DB("ScrShotAppOnly", true), RVX_DT("ScrShotSendAs", "screenshot.png"), RVX_DT("ScrShotZip", ""),
    RVX_DT("AddAttachs", ""), RVX_DT("BugRepFile", "bugreport.txt"), RVX_DB("AppendBugReps", true),
    RVX_DI("BugRepFileSize", 100000), RVX_DB("NoDupExcepts", true), RVX_DB("NoDupFreezes", true),
    RVX_DI("DupExceptDef", 1), RVX_DI("DupFreezeDef", 2),
    // report content
    RVX_DB("ListThreads", true), RVX_DB("CpuRegs", true), RVX_DB("StackDump", true), RVX_DB("ShowDisAsm", true),
    RVX_DB("HideUglyItems", false), RVX_DB("ShowRelAddrs", true), RVX_DB("ShowRelLines", true),
    RVX_DB("FormatDisAsm", false), RVX_DI("LimitDisAsm", 5),
    // exception filters
    RVX_DT("F1Classes", ""), RVX_DT("F2Classes", ""), RVX_DB("F1NoBugRep", false), RVX_DB("F2NoBugRep", false),
    RVX_DB("GnNoBugRep", false), RVX_DB("F1NoScrShot", false), RVX_DB("F2NoScrShot", false),
    RVX_DB("GnNoScrShot", false), RVX_DB("F1NoHandlers", false), RVX_DB("F2NoHandlers", false),
    RVX_DB("GnNoHandlers", false), RVX_DB("F1NoSuspend", false), RVX_DB("F2NoSuspend", false),
    RVX_DB("GnNoSuspend", false), RVX_DI("F1ShowCfg", 0), RVX_DI("F2ShowCfg", 0), RVX_DI("GnShowCfg", 0),
    RVX_DT("F1Assis", ""), RVX_DT("F2Assis", ""), RVX_DT("GnAssis", ""),
    // texts
    RVX_DT("TitleBar", "%appname%"), RVX_DT("ExceptMsg", "An error occurred in the application."),
    RVX_DT("FrozenMsg", "The application seems to be frozen."),
    RVX_DT("BitFaultMsg", "The file \"%modname%\" seems to be corrupt!"), RVX_DT("SendBtnTxt", "send bug report"),
    RVX_DT("SaveBtnTxt", "save bug report"), RVX_DT("PrintBtnTxt", "print bug report"),
    RVX_DT("ShowBtnTxt", "show bug report"), RVX_DT("ContinueBtnTxt", "continue application"),
    RVX_DT("RestartBtnTxt", "restart application"), RVX_DT("CloseBtnTxt", "close application"),
    RVX_DT("OkBtnTxt", "&OK"), RVX_DT("DetailsBtnTxt", "&Details"), RVX_DT("PlWaitTitle", "Information"),
    RVX_DT("PlWaitText", "Please wait a moment..."), RVX_DT("MailSubj", "bug report"),
    RVX_DT("MailBody", "please find the bug report attached"), RVX_DT("SendBoxTitle", "Sending bug report..."),
    RVX_DT("PrepAttMsg", "Prepare attachments..."), RVX_DT("MxLookMsg", "Searching for mail server..."),
    RVX_DT("ConnMsg", "Connecting to server..."), RVX_DT("AuthMsg", "Authentication..."),
    RVX_DT("SendMailMsg", "Sending mail..."), RVX_DT("FieldMsg", "Setting fields..."),
    RVX_DT("SendAttMsg", "Sending attachments..."), RVX_DT("SendFinalMsg", "Finalizing..."),
    RVX_DT("SendFailMsg", "Sorry, sending the bug report didn't work."),
    // last row
    RVX_DI("VersionVar", 0),
};
#undef RVX_DB
#undef RVX_DI
#undef RVX_DT

TSettingsProperty FromDefault(const SettingDefault& d) {
  TSettingsProperty p;
  p.name = d.name;
  p.kind = d.kind;
  p.boolValue = d.boolValue;
  p.intValue = d.intValue;
  p.textValue = d.textValue;
  return p;
}
}  // namespace

const std::vector<SettingDefault>& SettingDefaults() { return kDefaults; }

const SettingDefault* FindSettingDefault(std::string_view name) {
  for (const auto& d : kDefaults)
    if (name == d.name) return &d;
  return nullptr;
}

// ---- in-memory modules -------------------------------------------------------------------------------

namespace {
struct MemoryModule {
  std::wstring fileName;
  std::map<std::string, std::string, std::less<>> resources;
};
std::mutex g_memoryMutex;
std::map<ModuleHandle, MemoryModule>& MemoryModules() {
  static std::map<ModuleHandle, MemoryModule> modules;
  return modules;
}
}  // namespace

void SetMemoryModule(ModuleHandle module, std::wstring fileName) {
  std::lock_guard<std::mutex> g(g_memoryMutex);
  MemoryModules()[module].fileName = std::move(fileName);
}

void SetMemoryResource(ModuleHandle module, std::string name, std::string data) {
  std::lock_guard<std::mutex> g(g_memoryMutex);
  MemoryModules()[module].resources[std::move(name)] = std::move(data);
}

void ClearMemoryModules() {
  std::lock_guard<std::mutex> g(g_memoryMutex);
  MemoryModules().clear();
}

bool ReadModuleRcData(ModuleHandle module, std::string_view name, std::string& data) {
  {
    std::lock_guard<std::mutex> g(g_memoryMutex);
    auto m = MemoryModules().find(module);
    if (m != MemoryModules().end()) {
      auto r = m->second.resources.find(name);
      if (r == m->second.resources.end()) return false;
      data = r->second;
      return true;
    }
  }
  return settings_platform::ReadRcData(module, name, data);
}

std::wstring ModuleFile(ModuleHandle module) {
  {
    std::lock_guard<std::mutex> g(g_memoryMutex);
    auto m = MemoryModules().find(module);
    if (m != MemoryModules().end()) return m->second.fileName;
  }
  return settings_platform::ModuleFileName(module);
}

namespace {
std::vector<ModuleHandle> ModulesWithSettings() {
  std::vector<ModuleHandle> list = settings_platform::ModulesWithSettings();
  std::lock_guard<std::mutex> g(g_memoryMutex);
  for (const auto& [handle, m] : MemoryModules())
    if (m.resources.count("ZAVEDO")) list.push_back(handle);
  return list;
}
}  // namespace

// ---- main settings and assistant factory --------------------------------------------------------------

namespace {
std::mutex g_mainMutex;
Ref<IRVModuleSettings> g_main;
std::atomic<AssistantFactory> g_assistantFactory{nullptr};

void ReadModuleResource(ModuleHandle module, PropertyList& list) {
  std::string data;
  list.clear();
  if (ReadModuleRcData(module, "ZAVEDO", data)) {
    ParseSettingsResource(data, list);
    DecodeStoredPasswords(list);
  }
}
}  // namespace

void SetMainSettings(Ref<IRVModuleSettings> settings) {
  std::lock_guard<std::mutex> g(g_mainMutex);
  g_main = std::move(settings);
}

Ref<IRVModuleSettings> MainSettings() {
  std::lock_guard<std::mutex> g(g_mainMutex);
  return g_main;
}

void SetAssistantFactory(AssistantFactory factory) { g_assistantFactory.store(factory); }

// ---- the settings object ------------------------------------------------------------------------------

TIRVSettings::TIRVSettings(ModuleHandle module) : module_(module) {
  registry_ = settings_platform::AcquireRegistry();
  if (!registry_) return;
  std::string probe;
  valid_ = ReadModuleRcData(module, "ZAVEDO", probe);
  int32_t versionVar = 0;
  {
    std::lock_guard<std::mutex> g(registry_->lock);
    TModuleSettingsEntry** link = &registry_->head;
    while (*link && (*link)->module != module) link = &(*link)->next;
    if (!*link) {
      auto* e = new TModuleSettingsEntry;
      e->module = module;
      ReadModuleResource(module, e->properties);
      *link = e;
    }
    entry_ = *link;
    ++entry_->refCount;
    if (TSettingsProperty* p = FindProperty(entry_->properties, "VersionVar")) versionVar = p->intValue;
  }
  if (versionVar != 0) versionText_ = settings_platform::ReadVersionVar(module, versionVar);
}

TIRVSettings::TIRVSettings(Ref<IRVModuleSettings> moduleSettings)
    : moduleSettings_(std::move(moduleSettings)), valid_(true) {
  if (moduleSettings_) {
    module_ = moduleSettings_->Module();
    versionText_ = moduleSettings_->VersionText();
  }
}

TIRVSettings::~TIRVSettings() {
  if (auto ex = Query<IRVFieldsEx>(fields_)) ex->ClearOwnerSettings();
  if (auto ex = Query<IRVAttachmentsEx>(attachments_)) ex->ClearOwnerSettings();
  if (!registry_) return;
  if (entry_) {
    std::lock_guard<std::mutex> g(registry_->lock);
    if (--entry_->refCount == 0) {
      TModuleSettingsEntry** link = &registry_->head;
      while (*link && *link != entry_) link = &(*link)->next;
      if (*link) *link = entry_->next;
      delete entry_;
    }
  }
  settings_platform::ReleaseRegistry(registry_);
}

void TIRVSettings::Reload() {
  if (moduleSettings_) {
    moduleSettings_->Reload();
    return;
  }
  if (!registry_ || !entry_) return;
  PropertyList fresh;
  ReadModuleResource(module_, fresh);
  std::lock_guard<std::mutex> g(registry_->lock);
  entry_->properties = std::move(fresh);
}

bool TIRVSettings::DefaultsAllowed() {
  Ref<IRVModuleSettings> main = MainSettings();
  return !main || main->Module() == module_;
}

std::optional<TSettingsProperty> TIRVSettings::Lookup(std::string_view name) {
  if (moduleSettings_) {
    {
      std::lock_guard<std::mutex> g(ownMutex_);
      if (TSettingsProperty* p = FindProperty(own_, name)) return *p;
    }
    if (auto access = Query<ISettingsAccess>(moduleSettings_)) {
      TIRVSettings* m = access->Object();
      if (m->registry_ && m->entry_) {
        std::lock_guard<std::mutex> g(m->registry_->lock);
        if (TSettingsProperty* p = FindProperty(m->entry_->properties, name)) return *p;
      }
    }
    if (const SettingDefault* d = FindSettingDefault(name)) return FromDefault(*d);
    return std::nullopt;
  }
  if (registry_ && entry_) {
    std::lock_guard<std::mutex> g(registry_->lock);
    if (TSettingsProperty* p = FindProperty(entry_->properties, name)) return *p;
  }
  if (DefaultsAllowed()) {
    if (const SettingDefault* d = FindSettingDefault(name)) return FromDefault(*d);
    return std::nullopt;
  }
  Ref<IRVModuleSettings> main = MainSettings();
  auto access = Query<ISettingsAccess>(main);
  if (!access || access->Object() == this) return std::nullopt;
  return access->Object()->Lookup(name);
}

bool TIRVSettings::ReadBool(std::string_view name) {
  auto p = Lookup(name);
  return p && p->boolValue;
}

int32_t TIRVSettings::ReadInt(std::string_view name) {
  auto p = Lookup(name);
  return p ? p->intValue : 0;
}

std::string TIRVSettings::ReadText(std::string_view name) {
  auto p = Lookup(name);
  return p ? Expand(p->textValue) : std::string();
}

std::wstring TIRVSettings::ReadWideText(std::string_view name) {
  auto p = Lookup(name);
  if (!p) return {};
  return Expand(p->wideText ? *p->wideText : AnsiToWide(p->textValue));
}

std::string TIRVSettings::Expand(std::string text) {
  if (!IsExceptionRecord()) return ExpandPlaceholders(std::move(text), module_);
  std::string cls = ExceptionClassText(), msg = ExceptionMessageText();
  return ExpandPlaceholders(std::move(text), module_, {&cls, nullptr, &msg});
}

std::wstring TIRVSettings::Expand(std::wstring text) {
  if (!IsExceptionRecord()) return ExpandPlaceholders(std::move(text), module_);
  std::string cls = ExceptionClassText(), msg = ExceptionMessageText();
  return ExpandPlaceholders(std::move(text), module_, {&cls, nullptr, &msg});
}

bool TIRVSettings::Write(std::string_view name, SettingKind kind, const TSettingsProperty& value) {
  if (!valid_) return false;
  // A setting missing from the list keeps the kind it already has below (module or defaults): a setter of
  // another kind must not turn it into a setting of the wrong kind.
  std::optional<SettingKind> known;
  auto store = [&](PropertyList& list) {
    TSettingsProperty* p = FindProperty(list, name);
    if (!p) {
      if (known && *known != kind) return false;
      TSettingsProperty fresh;
      fresh.name = name;
      fresh.kind = kind;
      list.push_back(std::move(fresh));
      p = &list.back();
    }
    if (p->kind != kind) return false;
    p->boolValue = value.boolValue;
    p->intValue = value.intValue;
    p->textValue = value.textValue;
    p->wideText = value.wideText;
    return true;
  };
  if (moduleSettings_) {
    bool own;
    {
      std::lock_guard<std::mutex> g(ownMutex_);
      own = FindProperty(own_, name) != nullptr;
    }
    if (!own) {
      if (auto below = Lookup(name)) known = below->kind;
    }
    std::lock_guard<std::mutex> g(ownMutex_);
    return store(own_);
  }
  if (!registry_ || !entry_) return false;
  {
    std::lock_guard<std::mutex> g(registry_->lock);
    if (FindProperty(entry_->properties, name)) return store(entry_->properties);
  }
  if (auto below = Lookup(name)) known = below->kind;
  std::lock_guard<std::mutex> g(registry_->lock);
  return store(entry_->properties);
}

bool TIRVSettings::WriteBool(std::string_view name, bool value) {
  TSettingsProperty p;
  p.boolValue = value;
  return Write(name, SettingKind::Boolean, p);
}

bool TIRVSettings::WriteInt(std::string_view name, int32_t value) {
  TSettingsProperty p;
  p.intValue = value;
  return Write(name, SettingKind::Integer, p);
}

bool TIRVSettings::WriteText(std::string_view name, std::string_view value) {
  TSettingsProperty p;
  p.textValue = value;
  return Write(name, SettingKind::Text, p);
}

bool TIRVSettings::WriteWideText(std::string_view name, std::wstring_view value) {
  TSettingsProperty p;
  p.textValue = WideToAnsi(value);
  if (!value.empty()) p.wideText = std::wstring(value);
  return Write(name, SettingKind::Text, p);
}

Ref<IRVFields> TIRVSettings::AddFields() {
  std::lock_guard<std::mutex> g(listsMutex_);
  if (!fields_) {
    std::string text = ReadText("AddFields");
    fields_ = CreateFields(nullptr, this);
    if (auto ex = Query<IRVFieldsEx>(fields_)) ex->AcceptData();
    FillFieldsFromText(*fields_, text);
  }
  return fields_;
}

Ref<IRVAttachments> TIRVSettings::AddAttachs() {
  std::lock_guard<std::mutex> g(listsMutex_);
  if (!attachments_) {
    std::string text = ReadText("AddAttachs");
    attachments_ = CreateAttachments(this);
    FillAttachmentsFromText(*attachments_, text);
  }
  return attachments_;
}

Ref<IRVFields> TIRVSettings::FormCache() {
  std::lock_guard<std::mutex> g(listsMutex_);
  if (!formCache_) {
    formCache_ = CreateFields();
    if (auto ex = Query<IRVFieldsEx>(formCache_)) ex->AcceptData();
  }
  return formCache_;
}

bool TIRVSettings::PluginEnabled(std::string_view name) { return HasWordCI(ReadText("Plugins"), name, '|'); }

bool TIRVSettings::SetPluginEnabled(std::string_view name, bool enabled) {
  if (PluginEnabled(name) == enabled) return true;
  std::string list = ReadText("Plugins");
  if (enabled) {
    list = list.empty() ? std::string(name) : list + "|" + std::string(name);
  } else {
    list = "|" + list + "|";
    ReplaceText(list, "|" + std::string(name) + "|", "|", true, true);
    list = list.size() >= 2 ? list.substr(1, list.size() - 2) : std::string();
  }
  return WriteText("Plugins", list);
}

Ref<INVAssistant> TIRVSettings::Assistant(std::string_view name) {
  std::string def;
  for (int i = 1; i < 10000; ++i) {
    std::string a = ReadText("Assistant" + DecimalText(i));
    if (a.empty()) return nullptr;
    if (EqualTextCI(FieldOf(a, 1, '|'), name)) {
      def = a;
      break;
    }
  }
  if (def.empty()) return nullptr;
  AssistantRequest request;
  request.module = module_;
  request.name = FieldOf(def, 1, '|');
  request.title = FieldOf(def, 2, '|');
  request.settings = this;
  bool noScreenshot = (IsExceptionRecord() && !WillHaveScreenshot()) || ScrShotDepth() == 0;
  for (int i = 3, n = FieldCount(def, '|'); i <= n; ++i) {
    std::string form = FieldOf(def, i, '|');
    if (noScreenshot && EqualTextCI(form, "ScrShotForm")) continue;
    request.forms.push_back(std::move(form));
  }
  AssistantFactory factory = g_assistantFactory.load();
  Ref<INVAssistant> assistant = factory ? factory(request) : nullptr;
  if (assistant) RefillFromFormCache(*assistant);
  return assistant;
}

void TIRVSettings::FillFormCache(INVAssistant& assistant) {
  Ref<IRVFields> cache = FormCache();
  for (int f = 0, nf = assistant.FormCount(); f < nf; ++f) {
    if (!assistant.FormContinued(f)) continue;
    for (int i = 0, ni = assistant.ItemCount(f); i < ni; ++i) {
      switch (assistant.ItemKind(f, i)) {
        case AssistantItemKind::Edit:
          cache->SetContent(assistant.ItemName(f, i), assistant.ItemText(f, i));
          break;
        case AssistantItemKind::CheckBox:
          cache->SetContent(assistant.ItemName(f, i), assistant.ItemChecked(f, i) ? "+" : "-");
          break;
        default:
          break;
      }
    }
  }
}

void TIRVSettings::RefillFromFormCache(INVAssistant& assistant) {
  Ref<IRVFields> cache = FormCache();
  for (int f = 0, nf = assistant.FormCount(); f < nf; ++f) {
    bool found = false, missing = false;
    for (int i = 0, ni = assistant.ItemCount(f); i < ni; ++i) {
      AssistantItemKind kind = assistant.ItemKind(f, i);
      if (kind == AssistantItemKind::Other) continue;
      std::string value;
      if (!cache->GetContent(assistant.ItemName(f, i), value)) {
        missing = true;
        continue;
      }
      found = true;
      if (kind == AssistantItemKind::Edit)
        assistant.SetItemText(f, i, value);
      else
        assistant.SetItemChecked(f, i, value == "+");
    }
    if (found && !missing && assistant.ContinueEnabled(f)) assistant.ActivateContinue(f);
  }
}

// ---- placeholders -------------------------------------------------------------------------------------

namespace {

template <class S>
S Convert(const std::wstring& w) {
  if constexpr (std::is_same_v<S, std::wstring>)
    return w;
  else
    return WideToAnsi(w);
}
template <class S>
S Convert(const std::string& a) {
  if constexpr (std::is_same_v<S, std::string>)
    return a;
  else
    return AnsiToWide(a);
}
template <class S>
S Literal(const char* s) {
  return S(s, s + std::strlen(s));
}

std::wstring VersionOf(ModuleHandle module) {
  std::string text;
  {
    TIRVSettings* s = new TIRVSettings(module);
    Ref<IRVModuleSettings> hold(s);
    text = s->VersionText();
  }
  if (!text.empty()) return AnsiToWide(text);
  std::wstring file = settings_platform::FileVersionText(module);
  return file.empty() ? L"?" : file;
}

std::wstring FolderOrProgramFolder(settings_platform::Folder folder) {
  std::wstring path = settings_platform::FolderPath(folder);
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  if (path.empty()) path = FolderOf(ModuleFile(settings_platform::ProgramModule()));
  return path;
}

template <class S, class ValueFn>
void Substitute(S& text, const char* placeholder, ValueFn value) {
  S ph = Literal<S>(placeholder);
  using View = std::basic_string_view<typename S::value_type>;
  if (PosTextCI(View(ph), View(text)) == 0) return;
  ReplaceText(text, ph, Convert<S>(value()), true, false);
}

template <class S>
S ExpandImpl(S text, ModuleHandle module, const PlaceholderOperands& ops) {
  using namespace settings_platform;
  if (text.find(static_cast<typename S::value_type>('%')) == S::npos) return text;
  Substitute(text, "%appname%", [] { return FileNameOf(ModuleFile(ProgramModule())); });
  Substitute(text, "%modname%", [&] { return FileNameOf(ModuleFile(module)); });
  Substitute(text, "%appversion%", [] { return VersionOf(ProgramModule()); });
  Substitute(text, "%modversion%", [&] { return VersionOf(module); });
  if (ops.exceptClass) Substitute(text, "%exceptClass%", [&] { return *ops.exceptClass; });
  if (ops.exceptMsg)
    Substitute(text, "%exceptMsg%", [&] { return ops.exceptMsg->empty() ? std::string("Unknown") : *ops.exceptMsg; });
  if (ops.bugReport) Substitute(text, "%bugReport%", [&] { return *ops.bugReport; });
  Substitute(text, "%LF%", [] { return std::string("\r\n"); });
  LocalTime now{};
  bool haveNow = false;
  auto date = [&] {
    if (!haveNow) now = Now(), haveNow = true;
    return DecimalText(now.year, 4, '0') + "-" + DecimalText(now.month, 2, '0') + "-" + DecimalText(now.day, 2, '0');
  };
  auto time = [&] {
    if (!haveNow) now = Now(), haveNow = true;
    return DecimalText(now.hour, 2, '0') + ":" + DecimalText(now.minute, 2, '0') + ":" +
           DecimalText(now.second, 2, '0') + ", " + DecimalText(now.millisecond) + "ms";
  };
  Substitute(text, "%date%", date);
  Substitute(text, "%time%", time);
  Substitute(text, "%datetime%", [&] { return date() + ", " + time(); });
  Substitute(text, "%computerName%", [] { return ComputerName(); });
  Substitute(text, "%desktop%", [] { return FolderOrProgramFolder(Folder::Desktop); });
  Substitute(text, "%userappdata%", [] { return FolderOrProgramFolder(Folder::UserAppData); });
  Substitute(text, "%commonappdata%", [] { return FolderOrProgramFolder(Folder::CommonAppData); });
  return text;
}

}  // namespace

std::string ExpandPlaceholders(std::string text, ModuleHandle module, const PlaceholderOperands& operands) {
  return ExpandImpl(std::move(text), module, operands);
}

std::wstring ExpandPlaceholders(std::wstring text, ModuleHandle module, const PlaceholderOperands& operands) {
  return ExpandImpl(std::move(text), module, operands);
}

// ---- discovery ----------------------------------------------------------------------------------------

namespace {
Ref<IRVModuleSettings> NewSettings(ModuleHandle module) { return Ref<IRVModuleSettings>(new TIRVSettings(module)); }
bool Usable(const Ref<IRVModuleSettings>& s) { return s && s->Valid() && !s->NoSettings(); }
}  // namespace

Ref<IRVModuleSettings> FindSettings() {
  Ref<IRVModuleSettings> found;
  auto consider = [&](Ref<IRVModuleSettings> s) {
    if (!s || !s->Valid()) return false;
    if (!found || !s->NoSettings()) found = s;
    return !s->NoSettings();
  };
  if (consider(NewSettings(settings_platform::OwnModule()))) return found;
  if (ModuleHandle host = settings_platform::DesignHostModule())
    if (consider(NewSettings(host))) return found;
  for (ModuleHandle m : ModulesWithSettings())
    if (consider(NewSettings(m))) return found;
  return found;
}

Ref<IRVModuleSettings> SettingsOfModule(ModuleHandle module) {
  Ref<IRVModuleSettings> own = NewSettings(module);
  if (Usable(own)) return own;
  if (own->Valid() || settings_platform::DesignHostModule() != 0) {
    Ref<IRVModuleSettings> other = FindSettings();
    if (Usable(other)) return other;
  }
  return own;
}

namespace {
Ref<IRVModuleSettings> SettingsForCallerModule(ModuleHandle module) {
  Ref<IRVModuleSettings> result;
  std::string probe;
  if (module != settings_platform::OwnModule() && ReadModuleRcData(module, "ZAVEDO", probe))
    result = NewSettings(module);
  if (!Usable(result)) {
    Ref<IRVModuleSettings> found = FindSettings();
    if (found && (!result || !result->Valid() || Usable(found))) result = found;
  }
  if (!result) result = NewSettings(settings_platform::OwnModule());
  return result;
}
}  // namespace

__attribute__((noinline)) Ref<IRVModuleSettings> SettingsOfCaller() {
  return SettingsForCallerModule(settings_platform::ModuleOfAddress(__builtin_return_address(0)));
}

__attribute__((noinline)) Ref<IRVModuleSettings> SettingsOfCallerUp(int frames) {
  const void* address = settings_platform::ReturnAddressUp(__builtin_frame_address(0), frames,
                                                           __builtin_return_address(0));
  return SettingsForCallerModule(settings_platform::ModuleOfAddress(address));
}

}  // namespace rvx
