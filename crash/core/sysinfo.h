// System information for the bug report header: user, operating system, language, up times, processors,
// memory, resources, disks, display and memory use. Every text operation returns an empty text when its value
// cannot be determined (the header then leaves the item out); none of them fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rvx {

// ---- portable rules -----------------------------------------------------------------------------------

// Two parts in words: "1 day 1 hour ", "2 hours 1 minute ", "59 seconds ", "" for 0 (negative counts as 0).
std::string DurationText(int64_t seconds);
// The program's up time from two millisecond counts: a duration, or "n milliseconds" below one second.
std::string UpTimeText(int64_t nowMs, int64_t startMs);
// A processor name with runs of blanks collapsed and trimmed.
std::string CleanCpuName(std::string name);
// "free/total MB (free/total)" from byte counts, rounded to whole megabytes.
std::string MemoryText(uint64_t freeBytes, uint64_t totalBytes);
// "(C:) " + size text.
std::string DriveFreeText(char drive, uint64_t freeBytes);
// "gdi/user (gdi/user)" with two digits each.
std::string ResourcesText(unsigned gdiPercent, unsigned userPercent);
// The processor count from the names found under processor keys 1..15 (the first empty one ends).
int CountProcessors(const std::vector<std::string>& namesFrom1);

// ---- the running system -------------------------------------------------------------------------------

enum class RegistryRoot { LocalMachine, CurrentUser };

std::string ComputerNameText();
std::string RegistryText(RegistryRoot root, const std::string& key, const std::string& value);
bool UserIsAdmin();
std::string TerminalClientName();
std::string OsVersionText();
std::string OsLanguageText();
std::string SystemUpTimeText();
std::string ProgramUpTimeText();
std::string CpuNameText();
int CpuCount();
std::string PhysicalMemoryText();
std::string SystemResourcesText();
std::string DiskFreeText(char drive);
std::string DisplayModeText();
std::string AllocatedMemoryText();

// Records the crash reporter's start time (milliseconds of the performance counter).
void RecordStartTime();
// The recorded start time in milliseconds, 0 when none.
int64_t StartTimeMs();

}  // namespace rvx
