// The record's screenshot object as sending meets it: saved as a PNG file through the sending platform, and
// the screenshot hook that the crash dialogs install next to the record's other hooks.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "crash/core/exception_record.h"
#include "crash/delivery/send.h"
#include "crash/ui/crash_dialogs.h"
#include "crash/ui/picture_object.h"
#include "tests/support/oracle_files.h"
#include "tests/ui/test_pictures.h"

namespace rvx {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class PictureObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("picture_object_test_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

class NotAPicture final : public RefObject<IRefCounted> {};

TEST_F(PictureObjectTest, SendingSavesTheScreenshotAsThePngOfItsFormat) {
  const INVBitmap shot = test::Scene(200, 120);
  const Ref<IRefCounted> object = MakePictureObject(shot);
  ASSERT_TRUE(object);
  EXPECT_EQ(PictureOf(object), shot);
  ASSERT_TRUE(Query<IScreenshotPicture>(object)) << "sending attaches only objects it can save as PNG";

  const SendPlatform& platform = SystemSendPlatform();
  ASSERT_TRUE(platform.saveScreenshot);
  for (int format : {0, 1, 2}) {
    const fs::path file = dir_ / ("shot" + std::to_string(format) + ".png");
    ASSERT_TRUE(platform.saveScreenshot(*object, file.wstring(), format)) << format;
    EXPECT_TRUE(ReadFile(file) == shot->PngBytes(format)) << format;
  }
  // Overwrites an older, longer file completely.
  const fs::path again = dir_ / "again.png";
  test::WriteFile(again, std::string(1 << 20, 'x'));
  ASSERT_TRUE(platform.saveScreenshot(*object, again.wstring(), 1));
  EXPECT_TRUE(ReadFile(again) == shot->PngBytes(1));

  const fs::path nowhere = dir_ / "missing" / "shot.png";
  EXPECT_FALSE(platform.saveScreenshot(*object, nowhere.wstring(), 0));
  EXPECT_FALSE(fs::exists(nowhere));
  NotAPicture other;
  other.AddRef();
  const fs::path foreign = dir_ / "foreign.png";
  EXPECT_FALSE(platform.saveScreenshot(other, foreign.wstring(), 0));
  EXPECT_FALSE(fs::exists(foreign));
  EXPECT_FALSE(MakePictureObject(nullptr));
}

void ShowNothing(IRVException*) {}

TEST(CrashDialogsHooks, ScreenshotHookJoinsTheRecordsOtherHooks) {
  const RecordHooks saved = GetRecordHooks();
  RecordHooks hooks;
  hooks.show = ShowNothing;
  SetRecordHooks(hooks);
  RegisterCrashDialogs();
  EXPECT_TRUE(GetRecordHooks().takeScreenShot);
  EXPECT_EQ(GetRecordHooks().show, &ShowNothing) << "installing the screenshot must not drop other hooks";
  SetRecordHooks(saved);
}

}  // namespace
}  // namespace rvx
