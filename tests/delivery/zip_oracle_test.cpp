// Archives from ZipFiles checked by outside readers: "unzip -t" and Python's zipfile (names with the
// UTF-8 flag, CRCs, sizes, methods and the files' local modification times).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "crash/delivery/zip.h"
#include "tests/delivery/deflate_corpus.h"
#include "tests/support/oracle_files.h"

namespace {

namespace fs = std::filesystem;

using rvx::test::HasTool;
using rvx::test::WriteFile;

fs::path Folder() { return rvx::test::OracleFolder("zip_oracle_test"); }

std::wstring Wide(const fs::path& p) {
  const std::string s = p.string();
  return std::wstring(s.begin(), s.end());
}

// Writes an archive of the corpus (one entry per item, the last with a non-ASCII name) and returns the
// archive path; `listing` gets "source<TAB>entry name" lines in UTF-8 for the checker.
fs::path MakeArchive(const fs::path& dir) {
  std::vector<std::wstring> sources, names;
  std::string listing;
  int i = 0;
  for (const auto& item : rvxtest::DeflateCorpus(1u << 20)) {
    const fs::path src = dir / ("item" + std::to_string(i++) + ".bin");
    WriteFile(src, item.data);
    sources.push_back(Wide(src));
    names.push_back(Wide(item.name + ".dat"));
    listing += src.string() + "\t" + item.name + ".dat\n";
  }
  const fs::path odd = dir / "odd.txt";
  WriteFile(odd, "accents and symbols");
  sources.push_back(Wide(odd));
  names.push_back({L'r', L'e', L'l', L'a', L't', 0xF3, L'r', L'i', L'o', L' ', 0x20AC, L' ', 0xD83D, 0xDE00, L'.',
                   L't', L'x', L't'});
  listing += odd.string() + "\trelat\xC3\xB3rio \xE2\x82\xAC \xF0\x9F\x98\x80.txt\n";
  WriteFile(dir / "listing.txt", listing);
  const fs::path zip = dir / "corpus.zip";
  EXPECT_TRUE(rvx::ZipFiles(Wide(zip), sources, names));
  return zip;
}

TEST(ZipOracle, UnzipTestsTheArchive) {
  if (!HasTool("unzip")) GTEST_SKIP() << "unzip is not installed; archive not checked by unzip";
  const fs::path dir = Folder();
  const fs::path zip = MakeArchive(dir);
  const std::string cmd = "unzip -tq '" + zip.string() + "' >'" + (dir / "unzip.log").string() + "' 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << "see " << (dir / "unzip.log");
}

TEST(ZipOracle, PythonZipfileAgreesOnNamesCrcsSizesAndTimes) {
  if (!HasTool("python3")) GTEST_SKIP() << "python3 is not installed; archive not checked by zipfile";
  const fs::path dir = Folder();
  const fs::path zip = MakeArchive(dir);
  const fs::path script = dir / "check.py";
  WriteFile(script, R"(import sys, os, time, zipfile, zlib
zip_path, listing = sys.argv[1], sys.argv[2]
expected = [line.split('\t') for line in open(listing, encoding='utf-8').read().splitlines()]
problems = []
with zipfile.ZipFile(zip_path) as zf:
    bad = zf.testzip()
    if bad is not None: problems.append('bad entry ' + bad)
    infos = zf.infolist()
    if len(infos) != len(expected): problems.append('entry count %d' % len(infos))
    for info, (src, name) in zip(infos, expected):
        data = open(src, 'rb').read()
        if info.filename != name: problems.append('name %r != %r' % (info.filename, name))
        if not info.flag_bits & 0x800: problems.append(name + ': no UTF-8 flag')
        if info.compress_type != zipfile.ZIP_DEFLATED: problems.append(name + ': method')
        if info.file_size != len(data): problems.append(name + ': size')
        if info.CRC != zlib.crc32(data): problems.append(name + ': crc')
        if zf.read(info) != data: problems.append(name + ': content')
        t = time.localtime(os.path.getmtime(src))
        want = (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec // 2 * 2)
        if info.date_time != want: problems.append('%s: time %r != %r' % (name, info.date_time, want))
print('\n'.join(problems) if problems else 'ok')
sys.exit(1 if problems else 0)
)");
  const fs::path log = dir / "python.log";
  const std::string cmd = "python3 '" + script.string() + "' '" + zip.string() + "' '" + (dir / "listing.txt").string() +
                          "' >'" + log.string() + "' 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << "see " << log;
}

}  // namespace
