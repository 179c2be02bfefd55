// The rvx commands deflate, inflate, crc32 and zip, run as a user would run them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "crash/delivery/deflate.h"
#include "tests/delivery/deflate_corpus.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

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

class RvxCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* art = std::getenv("RVX_ARTEFACTS");
    dir_ = fs::path(art && *art ? art : fs::temp_directory_path().string()) / "rvx_deflate_cmd_test";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ASSERT_TRUE(fs::exists("./rvx")) << "the rvx tool is built beside the tests";
  }
  Outcome Rvx(const std::string& args) {
    const std::string cmd = "./rvx " + args + " >'" + (dir_ / "out").string() + "' 2>'" + (dir_ / "err").string() + "'";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir_ / "out"), ReadFile(dir_ / "err")};
  }
  std::string P(const std::string& name) { return "'" + (dir_ / name).string() + "'"; }
  fs::path dir_;
};

TEST_F(RvxCommands, DeflateInflateRoundTripAndExactLength) {
  rvxtest::Prng r(21);
  const std::string text = rvxtest::BugReportText(r);
  WriteFile(dir_ / "report.txt", text);
  Outcome run = Rvx("deflate " + P("report.txt") + " " + P("report.def"));
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string packed = ReadFile(dir_ / "report.def");
  EXPECT_LT(packed.size(), text.size());
  run = Rvx("inflate " + P("report.def") + " " + P("back.txt") + " " + std::to_string(text.size()));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(ReadFile(dir_ / "back.txt") == text);
  run = Rvx("inflate " + P("report.def") + " " + P("wrong.txt") + " " + std::to_string(text.size() + 1));
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("not a raw deflate stream"), std::string::npos) << run.err;
  // An empty file packs to a few bytes and unpacks with LENGTH 0; data of any length is not 0 bytes.
  WriteFile(dir_ / "empty.txt", "");
  ASSERT_EQ(Rvx("deflate " + P("empty.txt") + " " + P("empty.def")).code, 0);
  EXPECT_FALSE(ReadFile(dir_ / "empty.def").empty());
  run = Rvx("inflate " + P("empty.def") + " " + P("empty.back") + " 0");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(fs::exists(dir_ / "empty.back"));
  EXPECT_EQ(ReadFile(dir_ / "empty.back"), "");
  EXPECT_EQ(Rvx("inflate " + P("report.def") + " " + P("none.txt") + " 0").code, 1);
}

TEST_F(RvxCommands, Crc32PrintsEightHexDigits) {
  WriteFile(dir_ / "digits.txt", "123456789");
  const Outcome run = Rvx("crc32 " + P("digits.txt"));
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "cbf43926\n");
}

TEST_F(RvxCommands, ZipStoresNamedAndUnnamedFiles) {
  WriteFile(dir_ / "a.txt", "alpha alpha alpha");
  WriteFile(dir_ / "b.bin", std::string(1000, 'b'));
  const Outcome run = Rvx("zip " + P("out.zip") + " " + P("a.txt=report.txt") + " " + P("b.bin"));
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string zip = ReadFile(dir_ / "out.zip");
  ASSERT_GE(zip.size(), 22u);
  EXPECT_EQ(zip.compare(0, 4, "PK\x03\x04"), 0);
  EXPECT_EQ(zip.compare(zip.size() - 22, 4, "PK\x05\x06"), 0);
  EXPECT_EQ(static_cast<unsigned char>(zip[zip.size() - 14]), 2) << "two entries";
  EXPECT_NE(zip.find("report.txt"), std::string::npos);
  EXPECT_NE(zip.find("b.bin"), std::string::npos);
  EXPECT_EQ(zip.find(dir_.string()), std::string::npos) << "entry names carry no folders";
}

TEST_F(RvxCommands, BadArgumentsAndUnreadableFilesFailWithAMessage) {
  WriteFile(dir_ / "x.txt", "x");
  struct Case {
    std::string args;
    int code;
  } cases[] = {
      {"deflate " + P("x.txt"), 2},
      {"deflate " + P("missing") + " " + P("o"), 1},
      {"inflate " + P("x.txt") + " " + P("o"), 2},
      {"inflate " + P("x.txt") + " " + P("o") + " abc", 2},
      {"inflate " + P("x.txt") + " " + P("o") + " -1", 2},
      {"inflate " + P("x.txt") + " " + P("o") + " 99999999999", 2},
      {"inflate " + P("missing") + " " + P("o") + " 5", 1},
      {"inflate " + P("x.txt") + " " + P("o") + " 5", 1},
      {"crc32", 2},
      {"crc32 " + P("missing"), 1},
      {"zip " + P("z.zip"), 2},
      {"zip " + P("z.zip") + " " + P("missing"), 1},
      {"zip " + P("z.zip") + " " + P("x.txt="), 2},
      {"zip " + P("no/such/folder/z.zip") + " " + P("x.txt"), 1},
  };
  for (const Case& c : cases) {
    const Outcome run = Rvx(c.args);
    EXPECT_EQ(run.code, c.code) << c.args;
    EXPECT_EQ(run.err.rfind("rvx: ", 0), 0u) << c.args << ": " << run.err;
  }
  EXPECT_FALSE(fs::exists(dir_ / "z.zip"));
  EXPECT_FALSE(fs::exists(dir_ / "o"));
}

}  // namespace
