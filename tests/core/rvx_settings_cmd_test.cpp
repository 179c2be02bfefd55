// rvx settings build and dump, run as a user would run them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

class RvxSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* art = std::getenv("RVX_ARTEFACTS");
    dir_ = fs::path(art && *art ? art : fs::temp_directory_path().string()) / "rvx_settings_cmd_test";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ASSERT_TRUE(fs::exists("./rvx"));
  }
  int Rvx(const std::string& args) {
    std::string cmd = "./rvx " + args + " >'" + (dir_ / "out").string() + "' 2>'" + (dir_ / "err").string() + "'";
    int status = std::system(cmd.c_str());
    out_ = ReadFile(dir_ / "out"), err_ = ReadFile(dir_ / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return "'" + (dir_ / name).string() + "'";
  }
  std::string P(const std::string& name) { return "'" + (dir_ / name).string() + "'"; }
  fs::path dir_;
  std::string out_, err_;
};

bool HasLine(const std::string& out, const std::string& name, const std::string& value, const std::string& origin) {
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string n, eq, v, o;
    if (!(words >> n >> eq)) continue;
    std::string rest;
    std::getline(words, rest);
    size_t b = rest.find_first_not_of(' '), e = rest.find_last_of(' ');
    if (b == std::string::npos || e == std::string::npos || e < b) continue;
    v = rest.substr(b, rest.find_last_not_of(' ', e) + 1 - b);
    o = rest.substr(e + 1);
    if (n == name && v == value && o == origin) return true;
  }
  return false;
}
}  // namespace

TEST_F(RvxSettings, BuildsAndDumpsTheProgramsSettings) {
  std::string src = std::string(RVX_SOURCE_DIR) + "/resources/settings/contacts.settings.txt";
  ASSERT_EQ(Rvx("settings build '" + src + "' " + P("s.bin")), 0) << err_;
  ASSERT_EQ(Rvx("settings dump " + P("s.bin")), 0) << err_;
  EXPECT_TRUE(HasLine(out_, "SmtpPort", "587", "resource")) << out_;
  EXPECT_TRUE(HasLine(out_, "FreezeTimeout", "30000", "resource"));
  EXPECT_TRUE(HasLine(out_, "F1Classes", "'EDBEditError'", "resource"));
  EXPECT_TRUE(HasLine(out_, "Plugins", "'modules|processes|hardware'", "resource"));
  EXPECT_TRUE(HasLine(out_, "AutoDelay", "60", "default"));
  EXPECT_TRUE(HasLine(out_, "VersionVar", "0", "default"));
  EXPECT_NE(out_.find("SendAssistant: 'Assistente de envio' (ContactForm, DetailsForm, ScrShotForm)"),
            std::string::npos);
  EXPECT_NE(out_.find("PrintAssistant: 'Assistente de impress\xC3\xA3o' (ContactForm, DetailsForm)"),
            std::string::npos);
}

TEST_F(RvxSettings, BuildRejectsWhatTheProgramWouldMisread) {
  EXPECT_EQ(Rvx("settings build " + Write("a.txt", "object Ravex: ZAvedo\n  SmtpPrt = 587\nend\n") + " " + P("a.bin")), 1);
  EXPECT_NE(err_.find("unknown setting 'SmtpPrt'"), std::string::npos) << err_;
  EXPECT_EQ(Rvx("settings build " + Write("b.txt", "object Ravex: ZAvedo\n  SmtpPort = '587'\nend\n") + " " + P("b.bin")), 1);
  EXPECT_NE(err_.find("expected integer"), std::string::npos) << err_;
  EXPECT_EQ(Rvx("settings build " + Write("c.txt", "object Other: ZAvedo\nend\n") + " " + P("c.bin")), 1);
  EXPECT_EQ(Rvx("settings build " + Write("d.txt", "object Ravex: ZAvedo\n  Color = clRed\nend\n") + " " + P("d.bin")), 1);
  EXPECT_NE(err_.find("Invalid settings resource ($7)"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(dir_ / "d.bin"));
  EXPECT_EQ(Rvx("settings build " + Write("e.txt", "object Ravex: ZAvedo\n  Assistant4 = 'X|Y|F'\n  MinDebugInfo = 'yes'\nend\n") + " " + P("e.bin")), 0) << err_;
}

TEST_F(RvxSettings, DumpErrors) {
  EXPECT_EQ(Rvx("settings dump " + P("missing.bin")), 1);
  EXPECT_NE(err_.find("cannot read"), std::string::npos);
  EXPECT_EQ(Rvx("settings dump " + Write("x.txt", "hello")), 1);
  EXPECT_NE(err_.find("neither a settings resource nor a program image"), std::string::npos);
  EXPECT_EQ(Rvx("settings dump " + Write("y.exe", std::string("MZ") + std::string(100, '\0'))), 1);
  EXPECT_NE(err_.find("ZAVEDO"), std::string::npos);
  EXPECT_EQ(Rvx("settings"), 2);
}
