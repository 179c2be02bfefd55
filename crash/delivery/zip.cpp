// Zip archive writer on top of a small file-access seam (ZipIo), so that the format logic is the same
// on every platform and testable without one.
#include "crash/delivery/zip.h"

#include "crash/delivery/deflate.h"
#include "crash/stack/text.h"

namespace rvx {
namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint16_t kVersion = 20;
constexpr uint16_t kUtf8Flag = 0x0800;
constexpr uint16_t kMethodDeflate = 8;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kEndRecordSize = 22;
constexpr uint64_t kMaxArchiveOffset = 0xFFFFFFFFu;
// Largest source the compressor takes in one call with room for its output.
constexpr size_t kMaxSourceSize = 0x70000000;

void Put16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v));
  s.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// The fields shared by the local header (offset 4) and the central record (offset 6).
void PutCommonFields(std::string& s, const ZipSource& src, uint32_t crc, uint32_t packed, uint32_t size,
                     size_t nameLength) {
  Put16(s, kVersion);
  Put16(s, kUtf8Flag);
  Put16(s, kMethodDeflate);
  Put16(s, src.dosTime);
  Put16(s, src.dosDate);
  Put32(s, crc);
  Put32(s, packed);
  Put32(s, size);
  Put16(s, static_cast<uint32_t>(nameLength));
  Put16(s, 0);  // extra field length
}

}  // namespace

std::wstring ZipDefaultName(const std::wstring& sourcePath) {
  const size_t cut = sourcePath.find_last_of(L"\\/");
  return cut == std::wstring::npos ? sourcePath : sourcePath.substr(cut + 1);
}

void DosDateTime(int year, int month, int day, int hour, int minute, int second, uint16_t& dosDate,
                 uint16_t& dosTime) {
  if (year < 1980) {
    year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  } else if (year > 2107) {
    year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 59;
  }
  dosDate = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  dosTime = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

bool ZipFilesWith(ZipIo& io, const std::wstring& archivePath, const std::vector<std::wstring>& sourcePaths,
                  const std::vector<std::wstring>& entryNames) {
  try {
    if (!io.CreateArchive(archivePath)) return false;
  } catch (...) {
    return false;
  }
  bool ok = true;
  uint32_t entries = 0;
  uint64_t position = 0;
  try {
    std::string central;
    for (size_t i = 0; i < sourcePaths.size() && ok; ++i) {
      const bool named = i < entryNames.size() && !entryNames[i].empty();
      const std::string name = EncodeUtf8Text(named ? entryNames[i] : ZipDefaultName(sourcePaths[i]));
      if (name.empty() || name.size() > 0xFFFF) continue;
      ZipSource src;
      std::string packed;
      int32_t packedSize = 0;
      try {
        if (!io.ReadSource(sourcePaths[i], src) || src.data.size() > kMaxSourceSize) continue;
        const auto size = static_cast<int32_t>(src.data.size());
        packed.resize(static_cast<size_t>(DeflateCapacity(size)));
        packedSize = DeflateBuffer(src.data.data(), packed.data(), size, static_cast<int32_t>(packed.size()));
      } catch (...) {
        continue;  // no memory for this file: it is left out like an unreadable one
      }
      if (packedSize <= 0) continue;
      const uint32_t crc = Crc32Of(src.data);
      const auto size = static_cast<uint32_t>(src.data.size());
      const uint64_t entrySize = kLocalHeaderSize + name.size() + static_cast<uint64_t>(packedSize);
      if (position + entrySize > kMaxArchiveOffset || entries == 0xFFFF) {
        ok = false;  // beyond what the archive's 16- and 32-bit fields can describe
        break;
      }
      std::string header;
      Put32(header, kLocalSignature);
      PutCommonFields(header, src, crc, static_cast<uint32_t>(packedSize), size, name.size());
      header += name;
      if (!io.WriteArchive(header.data(), header.size()) ||
          !io.WriteArchive(packed.data(), static_cast<size_t>(packedSize))) {
        ok = false;
        break;
      }
      Put32(central, kCentralSignature);
      Put16(central, kVersion);  // made by
      PutCommonFields(central, src, crc, static_cast<uint32_t>(packedSize), size, name.size());
      Put16(central, 0);  // comment length
      Put16(central, 0);  // disk number start
      Put16(central, 0);  // internal attributes
      Put32(central, src.attributes);
      Put32(central, static_cast<uint32_t>(position));
      central += name;
      position += entrySize;
      ++entries;
    }
    if (ok && entries > 0) {
      if (position + central.size() + kEndRecordSize > kMaxArchiveOffset) {
        ok = false;
      } else {
        Put32(central, kEndSignature);
        Put16(central, 0);  // this disk
        Put16(central, 0);  // disk with the central directory
        Put16(central, entries);
        Put16(central, entries);
        Put32(central, static_cast<uint32_t>(central.size() - 12));  // the records before the end record
        Put32(central, static_cast<uint32_t>(position));
        Put16(central, 0);  // comment length
        ok = io.WriteArchive(central.data(), central.size());
      }
    }
  } catch (...) {
    ok = false;
  }
  const bool closed = io.CloseArchive();
  if (!ok || !closed || entries == 0) {
    io.DeleteArchive(archivePath);
    return false;
  }
  return true;
}

bool ZipFiles(const std::wstring& archivePath, const std::vector<std::wstring>& sourcePaths,
              const std::vector<std::wstring>& entryNames) {
  try {
    const std::unique_ptr<ZipIo> io = MakePlatformZipIo();
    return io && ZipFilesWith(*io, archivePath, sourcePaths, entryNames);
  } catch (...) {
    return false;
  }
}

}  // namespace rvx
