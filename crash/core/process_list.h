// The system's list of processes and their threads, as the native system-information call returns it: the
// buffer strategy of the query and a parser that trusts nothing in the buffer.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace rvx {

struct ProcessRecord {
  uint32_t processId = 0;
  uint32_t sessionId = 0;
  std::string imageName;  // empty for the idle process
  std::vector<uint32_t> threadIds;
};

// Thread records start this far into a process record (from Windows 2000 on; 0x88 before).
constexpr uint32_t kThreadRecordsNT5 = 0xB8;
constexpr uint32_t kThreadRecordsNT4 = 0x88;

// Parses the records of a SystemProcessInformation buffer. Records whose fields lie outside the buffer end
// the list; image names are read only inside the buffer (a name pointer is taken relative to `bufferAddress`,
// the address the buffer had in the process that filled it).
std::vector<ProcessRecord> ParseSystemProcesses(const uint8_t* data, size_t size, uint32_t bufferAddress,
                                                uint32_t threadRecordOffset = kThreadRecordsNT5);

// Asks the system (false when the call is missing or keeps failing): first for the size; with a size the
// buffer is twice that, otherwise it starts at 128 KB and doubles up to 4 MB while the call fails.
bool QuerySystemProcesses(std::vector<ProcessRecord>& out);

}  // namespace rvx
