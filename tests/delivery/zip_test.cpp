// Zip writer: archive layout checked field by field through a reader of our own, with a file-access
// double for the failure paths and the platform's file access for real files (natively and under Wine).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "crash/delivery/deflate.h"
#include "crash/delivery/zip.h"
#include "tests/delivery/deflate_corpus.h"

namespace {

namespace fs = std::filesystem;

uint32_t Le(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(at + static_cast<size_t>(i)));
  return v;
}

struct Entry {
  std::string name;
  std::string data;
  uint32_t crc = 0, packed = 0, size = 0, attributes = 0, offset = 0;
  uint16_t time = 0, date = 0;
};

// Reads an archive as this writer lays it out, checking every fixed field and the agreement of the local
// headers with the central directory; the data is unpacked with InflateBuffer and checked against the CRC.
std::vector<Entry> ReadArchive(const std::string& zip) {
  std::vector<Entry> entries;
  EXPECT_GE(zip.size(), 22u);
  if (zip.size() < 22) return entries;
  const size_t end = zip.size() - 22;
  EXPECT_EQ(Le(zip, end, 4), 0x06054B50u);
  EXPECT_EQ(Le(zip, end + 4, 4), 0u);
  const uint32_t count = Le(zip, end + 8, 2);
  EXPECT_EQ(Le(zip, end + 10, 2), count);
  const uint32_t dirSize = Le(zip, end + 12, 4);
  const uint32_t dirOffset = Le(zip, end + 16, 4);
  EXPECT_EQ(Le(zip, end + 20, 2), 0u);
  EXPECT_EQ(dirOffset + dirSize, end);
  size_t at = dirOffset;
  size_t expectedLocal = 0;
  for (uint32_t i = 0; i < count; ++i) {
    Entry e;
    EXPECT_EQ(Le(zip, at, 4), 0x02014B50u);
    EXPECT_EQ(Le(zip, at + 4, 2), 20u);
    // The ten shared fields must equal the local header's.
    e.offset = Le(zip, at + 42, 4);
    EXPECT_EQ(e.offset, expectedLocal) << "entries follow each other";
    EXPECT_EQ(zip.compare(at + 6, 26, zip, e.offset + 4, 26), 0);
    EXPECT_EQ(Le(zip, e.offset, 4), 0x04034B50u);
    EXPECT_EQ(Le(zip, at + 6, 2), 20u);
    EXPECT_EQ(Le(zip, at + 8, 2), 0x0800u);
    EXPECT_EQ(Le(zip, at + 10, 2), 8u);
    e.time = static_cast<uint16_t>(Le(zip, at + 12, 2));
    e.date = static_cast<uint16_t>(Le(zip, at + 14, 2));
    e.crc = Le(zip, at + 16, 4);
    e.packed = Le(zip, at + 20, 4);
    e.size = Le(zip, at + 24, 4);
    const uint32_t nameLength = Le(zip, at + 28, 2);
    EXPECT_EQ(Le(zip, at + 30, 2), 0u);  // extra
    EXPECT_EQ(Le(zip, at + 32, 2), 0u);  // comment
    EXPECT_EQ(Le(zip, at + 34, 2), 0u);  // disk
    EXPECT_EQ(Le(zip, at + 36, 2), 0u);  // internal attributes
    e.attributes = Le(zip, at + 38, 4);
    e.name = zip.substr(at + 46, nameLength);
    EXPECT_EQ(zip.substr(e.offset + 30, nameLength), e.name);
    const std::string packed = zip.substr(e.offset + 30 + nameLength, e.packed);
    e.data.assign(e.size, '\0');
    if (e.size > 0) {
      EXPECT_EQ(rvx::InflateBuffer(packed.data(), e.data.data(), static_cast<int32_t>(packed.size()),
                                   static_cast<int32_t>(e.size)),
                static_cast<int32_t>(e.size));
    }
    EXPECT_EQ(rvx::Crc32Of(e.data), e.crc);
    expectedLocal = e.offset + 30 + nameLength + e.packed;
    at += 46 + nameLength;
    entries.push_back(e);
  }
  EXPECT_EQ(expectedLocal, dirOffset);
  EXPECT_EQ(at, end);
  return entries;
}

// File access double: sources from a map, the archive in memory, an optional write budget.
class MemoryZipIo : public rvx::ZipIo {
 public:
  std::map<std::wstring, rvx::ZipSource> sources;
  std::string archive;
  size_t writeBudget = SIZE_MAX;
  bool closeFails = false;
  bool created = false, closed = false, deleted = false;

  bool CreateArchive(const std::wstring&) override {
    created = true;
    archive.clear();
    return true;
  }
  bool WriteArchive(const void* data, size_t size) override {
    if (size > writeBudget) return false;
    writeBudget -= size;
    archive.append(static_cast<const char*>(data), size);
    return true;
  }
  bool CloseArchive() override {
    closed = true;
    return !closeFails;
  }
  void DeleteArchive(const std::wstring&) override { deleted = true; }
  bool ReadSource(const std::wstring& path, rvx::ZipSource& source) override {
    const auto it = sources.find(path);
    if (it == sources.end()) return false;
    source = it->second;
    return true;
  }
};

rvx::ZipSource Source(std::string data, uint32_t attributes = 0x20) {
  rvx::ZipSource s;
  s.data = std::move(data);
  rvx::DosDateTime(2026, 12, 9, 8, 50, 17, s.dosDate, s.dosTime);
  s.attributes = attributes;
  return s;
}

TEST(ZipLayout, EntriesInOrderWithNamesSizesCrcsTimesAndAttributes) {
  MemoryZipIo io;
  rvxtest::Prng r(11);
  const std::string report = rvxtest::BugReportText(r);
  const std::string shot = rvxtest::RandomData(r, 30000);
  io.sources[L"C:\\Temp\\App.Ravex\\bugreport.txt"] = Source(report, 0x20);
  io.sources[L"C:\\Temp\\App.Ravex\\screenShot.png"] = Source(shot, 0x21);
  io.sources[L"C:\\Temp\\empty.txt"] = Source("");
  ASSERT_TRUE(rvx::ZipFilesWith(io, L"C:\\Temp\\a.zip",
                                {L"C:\\Temp\\App.Ravex\\bugreport.txt", L"C:\\Temp\\App.Ravex\\screenShot.png",
                                 L"C:\\Temp\\empty.txt"},
                                {L"report.txt"}));
  EXPECT_TRUE(io.closed);
  EXPECT_FALSE(io.deleted);
  const auto entries = ReadArchive(io.archive);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "report.txt");
  EXPECT_EQ(entries[1].name, "screenShot.png") << "names default to the file part of the path";
  EXPECT_EQ(entries[2].name, "empty.txt");
  EXPECT_TRUE(entries[0].data == report);
  EXPECT_TRUE(entries[1].data == shot);
  EXPECT_EQ(entries[2].size, 0u);
  EXPECT_EQ(entries[2].crc, 0u);
  EXPECT_EQ(entries[1].attributes, 0x21u);
  EXPECT_EQ(entries[0].date, (46 << 9) | (12 << 5) | 9);
  EXPECT_EQ(entries[0].time, (8 << 11) | (50 << 5) | 8);
  EXPECT_LT(entries[0].packed, report.size() / 2);
}

TEST(ZipLayout, NamesAreUtf8AndEmptyNamesFallBackToTheFileName) {
  MemoryZipIo io;
  io.sources[L"x\\a.txt"] = Source("a");
  io.sources[L"y/b.txt"] = Source("b");
  const std::wstring name = {L'r', L'e', L'l', L'a', L't', 0xF3, L'r', L'i', L'o', L' ', 0x20AC, L' ', 0xD83D, 0xDE00};
  ASSERT_TRUE(rvx::ZipFilesWith(io, L"a.zip", {L"x\\a.txt", L"y/b.txt"}, {name, L""}));
  const auto entries = ReadArchive(io.archive);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "relat\xC3\xB3rio \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(entries[1].name, "b.txt");
}

TEST(ZipFailures, UnreadableSourcesAreSkippedAndNoEntryMeansNoArchive) {
  MemoryZipIo io;
  io.sources[L"ok.txt"] = Source("fine");
  ASSERT_TRUE(rvx::ZipFilesWith(io, L"a.zip", {L"missing.txt", L"ok.txt"}, {L"first", L"second"}));
  const auto entries = ReadArchive(io.archive);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "second") << "the skipped file keeps its name slot";

  MemoryZipIo none;
  EXPECT_FALSE(rvx::ZipFilesWith(none, L"a.zip", {L"missing.txt", L"gone.txt"}, {}));
  EXPECT_TRUE(none.deleted);
  MemoryZipIo empty;
  EXPECT_FALSE(rvx::ZipFilesWith(empty, L"a.zip", {}, {}));
  EXPECT_TRUE(empty.deleted);
}

TEST(ZipFailures, AnyFailedWriteFailsAndDeletesTheArchive) {
  MemoryZipIo full;
  full.sources[L"a"] = Source(std::string(5000, 'a'));
  full.sources[L"b"] = Source("bbbb");
  ASSERT_TRUE(rvx::ZipFilesWith(full, L"a.zip", {L"a", L"b"}, {}));
  const size_t total = full.archive.size();
  for (size_t budget : {size_t(0), size_t(10), size_t(31), total / 2, total - 30, total - 1}) {
    MemoryZipIo io;
    io.sources = full.sources;
    io.writeBudget = budget;
    EXPECT_FALSE(rvx::ZipFilesWith(io, L"a.zip", {L"a", L"b"}, {})) << budget;
    EXPECT_TRUE(io.closed);
    EXPECT_TRUE(io.deleted);
  }
  // Every write went through but the archive could not be stored when it was closed.
  MemoryZipIo unstored;
  unstored.sources = full.sources;
  unstored.closeFails = true;
  EXPECT_FALSE(rvx::ZipFilesWith(unstored, L"a.zip", {L"a", L"b"}, {}));
  EXPECT_TRUE(unstored.deleted);
}

TEST(ZipDates, MsDosDateAndTimeClampToTheirRange) {
  uint16_t date = 0, time = 0;
  rvx::DosDateTime(1980, 1, 1, 0, 0, 0, date, time);
  EXPECT_EQ(date, 0x21);
  EXPECT_EQ(time, 0);
  rvx::DosDateTime(1970, 6, 15, 12, 0, 0, date, time);
  EXPECT_EQ(date, 0x21);
  EXPECT_EQ(time, 0);
  rvx::DosDateTime(2107, 12, 31, 23, 59, 59, date, time);
  EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);
  rvx::DosDateTime(2200, 1, 1, 0, 0, 0, date, time);
  EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(rvx::ZipDefaultName(L"C:\\a\\b\\c.txt"), L"c.txt");
  EXPECT_EQ(rvx::ZipDefaultName(L"plain.txt"), L"plain.txt");
}

// ---- real files ---------------------------------------------------------------------------------------

fs::path WorkFolder(const char* name) {
  const char* art = std::getenv("RVX_ARTEFACTS");
  fs::path base = art && *art ? fs::path(art) : fs::temp_directory_path();
  fs::path dir = base / "zip_test" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::wstring Wide(const fs::path& p) {
  const std::string s = p.string();  // the test folders are plain ASCII
  return std::wstring(s.begin(), s.end());
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path& p, const std::string& data) {
  std::ofstream f(p, std::ios::binary);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

TEST(ZipPlatform, WritesRealFilesAndSkipsMissingOnes) {
  const fs::path dir = WorkFolder("real");
  rvxtest::Prng r(12);
  const std::string report = rvxtest::BugReportText(r);
  const std::string binary = rvxtest::BinaryData(r, 70000);
  WriteFile(dir / "report.txt", report);
  WriteFile(dir / "data.bin", binary);
  WriteFile(dir / "empty.txt", "");
  const fs::path zip = dir / "out.zip";
  ASSERT_TRUE(rvx::ZipFiles(Wide(zip),
                            {Wide(dir / "report.txt"), Wide(dir / "missing.txt"), Wide(dir / "data.bin"),
                             Wide(dir / "empty.txt")},
                            {L"bug report.txt", L"never", L"data.bin", L"empty.txt"}));
  const auto entries = ReadArchive(ReadFile(zip));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "bug report.txt");
  EXPECT_TRUE(entries[0].data == report);
  EXPECT_TRUE(entries[1].data == binary);
  EXPECT_EQ(entries[2].size, 0u);
  EXPECT_NE(entries[0].date, 0) << "the file's time is stored";
  EXPECT_NE(entries[0].attributes, 0u);
}

TEST(ZipPlatform, FailureLeavesNoArchive) {
  const fs::path dir = WorkFolder("fail");
  const fs::path zip = dir / "out.zip";
  WriteFile(zip, "old content");
  EXPECT_FALSE(rvx::ZipFiles(Wide(zip), {Wide(dir / "missing.txt")}, {}));
  EXPECT_FALSE(fs::exists(zip));
  WriteFile(dir / "a.txt", "a");
  EXPECT_FALSE(rvx::ZipFiles(Wide(dir / "no such folder" / "out.zip"), {Wide(dir / "a.txt")}, {}));
}

#ifndef _WIN32
TEST(ZipPlatform, ArchiveThatCannotBeStoredWhenClosedIsAFailure) {
  // A device that is always full takes buffered writes and refuses them when the buffer goes out at the end.
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::unique_ptr<rvx::ZipIo> io = rvx::MakePlatformZipIo();
  ASSERT_TRUE(io->CreateArchive(L"/dev/full"));
  EXPECT_TRUE(io->WriteArchive("PK\x03\x04", 4));
  EXPECT_FALSE(io->CloseArchive());
}
#endif

}  // namespace
