// Zip archive writer: stores a list of files, each compressed with DeflateBuffer (method 8), names in
// UTF-8. No data descriptors, extra fields, comments or encryption.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rvx {

// Writes the archive (created or overwritten). Entry i is named entryNames[i] when given, else the file
// part of sourcePaths[i]. Sources that cannot be opened or read are skipped. Returns false, leaving no
// archive behind, when nothing was stored or a write failed.
bool ZipFiles(const std::wstring& archivePath, const std::vector<std::wstring>& sourcePaths,
              const std::vector<std::wstring>& entryNames);

// One source file as the platform reports it.
struct ZipSource {
  std::string data;
  uint16_t dosTime = 0;  // last-write time, local, MS-DOS format
  uint16_t dosDate = 0;
  uint32_t attributes = 0;  // external attributes of the central directory
};

// The file access the writer needs; MakePlatformZipIo() gives the platform's (one per archive written).
class ZipIo {
 public:
  virtual ~ZipIo() = default;
  // Creates or truncates the archive for exclusive writing.
  virtual bool CreateArchive(const std::wstring& path) = 0;
  // Appends to the open archive; false on failure or a short write.
  virtual bool WriteArchive(const void* data, size_t size) = 0;
  // Closes the archive; false when what was written could not be stored (a full disk shows here).
  virtual bool CloseArchive() = 0;
  virtual void DeleteArchive(const std::wstring& path) = 0;
  // Reads a whole source (shared for reading and writing); false when it cannot be opened or read.
  virtual bool ReadSource(const std::wstring& path, ZipSource& source) = 0;
};

std::unique_ptr<ZipIo> MakePlatformZipIo();

bool ZipFilesWith(ZipIo& io, const std::wstring& archivePath, const std::vector<std::wstring>& sourcePaths,
                  const std::vector<std::wstring>& entryNames);

// MS-DOS date and time of a local calendar time (years before 1980 give 1980-01-01 00:00, after 2107 the
// last representable day).
void DosDateTime(int year, int month, int day, int hour, int minute, int second, uint16_t& dosDate,
                 uint16_t& dosTime);

// The entry name used for a source without one: everything after the last path separator.
std::wstring ZipDefaultName(const std::wstring& sourcePath);

}  // namespace rvx
