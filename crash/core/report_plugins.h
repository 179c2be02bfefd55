// Report plug-ins: named text producers that a bug report calls while it is completed. The `Plugins` setting
// chooses which registered plug-ins contribute and in which order. The built-in ones ("modules",
// "processes", "hardware") and the disassembler's hook are installed with the crash reporter.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace rvx {

class IRVException;

struct TReportPlugin {
  std::string name;
  std::string description;
  std::function<std::string()> producer;
  std::function<std::string(IRVException* record)> recordProducer;  // used instead when set
  bool ownSection = true;  // true: a report section; false: a header item
};

// Appends an entry (no duplicate check): a producer of a text, or one that reads the exception record.
void AddReportPlugin(const std::string& name, const std::string& description, std::function<std::string()> producer,
                     bool ownSection);
void AddReportPlugin(const std::string& name, const std::string& description,
                     std::function<std::string(IRVException* record)> producer, bool ownSection);
// Removes the first entry with exactly that name.
void RemoveReportPlugin(const std::string& name);
// The plug-ins that a `Plugins` value chooses, in its order: each name looked up without case (first match);
// unregistered names add nothing.
std::vector<TReportPlugin> ChosenReportPlugins(const std::string& pluginsSetting, bool ownSection);
// The producer's text for the record; a failure inside it (a C++ exception or a processor fault) gives the
// internal-error text for "plugin".
std::string ReportPluginText(const TReportPlugin& plugin, IRVException* record = nullptr);

// Registers the built-in plug-ins and installs the disassembly hook; removes them again.
void InstallReportPlugins();
void RemoveReportPlugins();

// ---- the built-in plug-ins' texts ---------------------------------------------------------------------

struct ModuleLine {
  uint32_t handle = 0;
  std::string fileName, directory, version;
};
// One line per module: handle, name and version padded to their longest + 1, directory.
std::string ModulesText(const std::vector<ModuleLine>& modules);

struct ProcessLine {
  uint32_t processId = 0, sessionId = 0;
  std::string fileName, directory;
  uint32_t priorityClass = 0;  // 0 = not known
  uint32_t gdiObjects = 0, userObjects = 0;
};
std::string PriorityClassName(uint32_t priorityClass);
std::string ProcessesText(const std::vector<ProcessLine>& processes);
// File and folder of a process's image path as the system reports it ("\SystemRoot\System32\" becomes the
// system folder, a leading "\??\" goes).
std::string NormalImagePath(const std::string& path, const std::string& systemFolder);

struct DeviceLine {
  std::string deviceClass, device, driverText;  // driverText: " (driver 1.2.3)" or empty
};
// Devices grouped by class, classes and devices in ascending order without case.
std::string HardwareText(const std::vector<DeviceLine>& devices);

// The texts of the running system (empty where the system offers nothing).
std::string ModulesPluginText();
std::string ProcessesPluginText();
std::string HardwarePluginText();

}  // namespace rvx
