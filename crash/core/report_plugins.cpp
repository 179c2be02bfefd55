#include "crash/core/report_plugins.h"

#include <algorithm>
#include <mutex>

#include "crash/core/thread_stack.h"
#include "crash/stack/fault_guard.h"
#include "crash/stack/stack_trace.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {
std::mutex g_pluginMutex;
std::vector<TReportPlugin>& Registry() {
  static std::vector<TReportPlugin> plugins;
  return plugins;
}
}  // namespace

void AddReportPlugin(const std::string& name, const std::string& description, std::function<std::string()> producer,
                     bool ownSection) {
  std::lock_guard<std::mutex> g(g_pluginMutex);
  Registry().push_back({name, description, std::move(producer), nullptr, ownSection});
}

void AddReportPlugin(const std::string& name, const std::string& description,
                     std::function<std::string(IRVException*)> producer, bool ownSection) {
  std::lock_guard<std::mutex> g(g_pluginMutex);
  Registry().push_back({name, description, nullptr, std::move(producer), ownSection});
}

void RemoveReportPlugin(const std::string& name) {
  std::lock_guard<std::mutex> g(g_pluginMutex);
  auto& r = Registry();
  auto it = std::find_if(r.begin(), r.end(), [&](const TReportPlugin& p) { return p.name == name; });
  if (it != r.end()) r.erase(it);
}

std::vector<TReportPlugin> ChosenReportPlugins(const std::string& setting, bool ownSection) {
  std::vector<TReportPlugin> out;
  std::lock_guard<std::mutex> g(g_pluginMutex);
  size_t start = 0;
  while (start <= setting.size()) {
    size_t bar = setting.find('|', start);
    std::string name = setting.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    for (const TReportPlugin& p : Registry())
      if (EqualTextCI(p.name, name)) {
        if (p.ownSection == ownSection) out.push_back(p);
        break;
      }
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return out;
}

std::string ReportPluginText(const TReportPlugin& plugin, IRVException* record) {
  std::string text;
  bool ok = FaultGuarded([&] {
    if (plugin.recordProducer) text = plugin.recordProducer(record);
    else if (plugin.producer) text = plugin.producer();
  });
  return ok ? text : InternalErrorText("plugin");
}

namespace {
std::string DisassembleForReport(uint32_t entry, uint32_t exceptionAddress, bool autoDelimiters, uint32_t lineLimit);
}  // namespace

void InstallReportPlugins() {
  SetDisassemblyHook(DisassembleForReport);
  AddReportPlugin("hardware", "list of installed hardware", HardwarePluginText, true);
  AddReportPlugin("processes", "list of running processes", ProcessesPluginText, true);
  AddReportPlugin("modules", "list of loaded modules", ModulesPluginText, true);
}

void RemoveReportPlugins() {
  RemoveReportPlugin("modules");
  RemoveReportPlugin("processes");
  RemoveReportPlugin("hardware");
  SetDisassemblyHook(nullptr);
}

// ---- texts --------------------------------------------------------------------------------------------

std::string ModulesText(const std::vector<ModuleLine>& modules) {
  size_t nameWidth = 0, versionWidth = 0;
  for (const ModuleLine& m : modules) {
    nameWidth = std::max(nameWidth, m.fileName.size());
    versionWidth = std::max(versionWidth, m.version.size());
  }
  std::string out;
  for (const ModuleLine& m : modules) {
    if (!out.empty()) out += "\r\n";
    out += AddressText(m.handle) + " " + PadText(m.fileName, -static_cast<int>(nameWidth + 1)) +
           PadText(m.version, -static_cast<int>(versionWidth + 1)) + m.directory;
  }
  return out;
}

std::string PriorityClassName(uint32_t c) {
  switch (c) {
    case 0: return {};
    case 32: return "normal";
    case 64: return "idle";
    case 128: return "high";
    case 256: return "realtime";
    case 0x4000: return "below normal";
    case 0x8000: return "above normal";
    default: return HexText(c, 1, '0');
  }
}

std::string ProcessesText(const std::vector<ProcessLine>& processes) {
  size_t idWidth = 0, nameWidth = 0, sessionWidth = 0, gdiWidth = 0, userWidth = 0, priorityWidth = 0;
  for (const ProcessLine& p : processes) {
    idWidth = std::max(idWidth, HexText(p.processId).size() - 1);
    nameWidth = std::max(nameWidth, p.fileName.size());
    if (p.sessionId) sessionWidth = std::max(sessionWidth, DecimalText(p.sessionId).size());
    gdiWidth = std::max(gdiWidth, DecimalText(p.gdiObjects).size());
    userWidth = std::max(userWidth, DecimalText(p.userObjects).size());
    priorityWidth = std::max(priorityWidth, PriorityClassName(p.priorityClass).size());
  }
  auto number = [](uint32_t v, size_t width) { return PadText(DecimalText(v), static_cast<int>(width)) + " "; };
  std::string out;
  for (const ProcessLine& p : processes) {
    if (!out.empty()) out += "\r\n";
    out += PadText(AddressText(p.processId, false), static_cast<int>(idWidth), '0') + " ";
    out += PadText(p.fileName, -static_cast<int>(nameWidth + 1));
    if (sessionWidth) out += number(p.sessionId, sessionWidth);
    out += number(p.gdiObjects, gdiWidth) + number(p.userObjects, userWidth);
    out += PadText(PriorityClassName(p.priorityClass), -static_cast<int>(priorityWidth + 1));
    out += p.directory;
  }
  return out;
}

std::string NormalImagePath(const std::string& path, const std::string& systemFolder) {
  static const std::string kSystemRoot = "\\SystemRoot\\System32\\";
  std::string p = path;
  if (p.size() >= kSystemRoot.size() && EqualTextCI(p.substr(0, kSystemRoot.size()), kSystemRoot))
    p = systemFolder + "\\" + p.substr(kSystemRoot.size());
  if (p.compare(0, 4, "\\??\\") == 0) p.erase(0, 4);
  return p;
}

std::string HardwareText(const std::vector<DeviceLine>& devices) {
  // Classes ascending without case; a class equal without case but spelt differently is a class of its own,
  // placed before it. Devices ascending without case, a new one before the first that is not smaller.
  struct Group {
    std::string name;
    std::vector<const DeviceLine*> devices;
  };
  std::vector<Group> groups;
  auto less = [](const std::string& a, const std::string& b) { return LowerText(a) < LowerText(b); };
  for (const DeviceLine& d : devices) {
    auto g = groups.begin();
    while (g != groups.end() && less(g->name, d.deviceClass)) ++g;
    auto same = g;
    while (same != groups.end() && EqualTextCI(same->name, d.deviceClass) && same->name != d.deviceClass) ++same;
    if (same != groups.end() && same->name == d.deviceClass)
      g = same;
    else
      g = groups.insert(g, Group{d.deviceClass, {}});
    auto at = g->devices.begin();
    while (at != g->devices.end() && less((*at)->device, d.device)) ++at;
    g->devices.insert(at, &d);
  }
  std::string out;
  for (const Group& g : groups) {
    if (!out.empty()) out += "\r\n";
    out += "+ " + g.name;
    for (const DeviceLine* d : g.devices) out += "\r\n  - " + d->device + d->driverText;
  }
  return out;
}

namespace {
std::string DisassembleForReport(uint32_t entry, uint32_t exceptionAddress, bool autoDelimiters, uint32_t lineLimit) {
  std::string text;
#ifdef _WIN32
  TFunctionInfo info;
  DisassembleFunction(entry, text, exceptionAddress, info, autoDelimiters, lineLimit);
#endif
  return text;
}
}  // namespace

}  // namespace rvx
