// The progress window's logic: areas and bar values, the active-area rules, opening and closing through a
// recording window side, posted updates from other threads, the window geometry and the picture blend.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "crash/ui/progress_alert.h"
#include "crash/ui/progress_model.h"

namespace rvx {
namespace {

// What the object asked of its window, in order.
struct WindowLog {
  std::mutex mutex;
  std::vector<std::string> calls;
  bool open = false;
  std::thread::id owner;
  void Add(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
  }
  std::vector<std::string> Take() {
    std::lock_guard lock(mutex);
    return std::exchange(calls, {});
  }
};

class RecordingWindow final : public ProgressWindowPort {
 public:
  explicit RecordingWindow(std::shared_ptr<WindowLog> log) : log_(std::move(log)) {}
  bool IsOpen() override { return log_->open; }
  bool Open(ProgressWindowHandle, bool activate, const std::string& title, const std::vector<std::string>& texts) override {
    std::string call = "open " + title + (activate ? " active" : " quiet");
    for (const auto& t : texts) call += " [" + t + "]";
    log_->Add(call);
    log_->open = true;
    log_->owner = std::this_thread::get_id();
    return true;
  }
  bool InOwnThread() override { return std::this_thread::get_id() == log_->owner; }
  void SetCaption(const std::string& title) override { log_->Add("caption " + title); }
  void SetLabel(const std::string& text) override { log_->Add("label " + text); }
  void SendBar(int32_t value) override { log_->Add("send " + std::to_string(value)); }
  void PostBar(int32_t value) override { log_->Add("post " + std::to_string(value)); }
  void Pump() override { log_->Add("pump"); }
  void Close() override {
    log_->Add("close");
    log_->open = false;
  }

 private:
  std::shared_ptr<WindowLog> log_;
};

using Calls = std::vector<std::string>;

TEST(ProgressAreas, BarRunsOverAllAreasByWeight) {
  ProgressAreas a;
  EXPECT_FALSE(a.BarValue()) << "no areas: the bar stays";
  a.Append("collect", 100);
  a.Append("trace", 200);
  a.Append("", 100);
  EXPECT_EQ(a.Areas()[2].text, "trace") << "an empty text repeats the one before";
  EXPECT_EQ(a.Areas()[2].start, 300);
  ASSERT_TRUE(a.SetActive(1));
  a.SetPosition(500);
  EXPECT_EQ(a.BarValue(), 500);
  // Truncating divisions in 64 bits.
  EXPECT_EQ(ProgressBarValue(1, 999, 1, 3), 333);
  EXPECT_EQ(ProgressBarValue(7, 1000, 0, 21), 333);
  EXPECT_EQ(ProgressBarValue(int64_t{1} << 40, 1000, int64_t{1} << 41, int64_t{1} << 42), 750);
  EXPECT_FALSE(ProgressBarValue(10, 500, 0, 0)) << "all weights zero";
  // Weights at the 64-bit limit neither overflow nor leave the bar's range.
  EXPECT_EQ(ProgressBarValue(INT64_MAX, 1000, 0, INT64_MAX), 1000);
  EXPECT_NEAR(*ProgressBarValue(INT64_MAX / 2, 500, INT64_MAX / 2, INT64_MAX), 750, 1);
  ProgressAreas huge;
  huge.Append("a", INT64_MAX);
  huge.Append("b", INT64_MAX);
  EXPECT_EQ(huge.TotalWeight(), INT64_MAX);
  huge.SetActive(1);
  huge.SetPosition(1000);
  ASSERT_TRUE(huge.BarValue());
  EXPECT_LE(*huge.BarValue(), 1000);
  EXPECT_EQ(ProgressBarValue(-50, 500, 0, 100), 0) << "negative weights stay inside the range";
}

TEST(ProgressAreas, ActiveAreaRules) {
  ProgressAreas a;
  a.Append("one", 1);
  a.Append("two", 1);
  a.SetPosition(700);
  EXPECT_FALSE(a.SetActive(0)) << "the current area again";
  EXPECT_EQ(a.Position(), 700) << "does not reset the position";
  EXPECT_FALSE(a.SetActive(-1));
  EXPECT_FALSE(a.SetActive(3));
  EXPECT_TRUE(a.SetActive(2)) << "one past the last area";
  EXPECT_EQ(a.Active(), 1);
  EXPECT_EQ(a.Position(), 1000);
  EXPECT_EQ(a.BarValue(), 1000);
  EXPECT_TRUE(a.SetActive(0));
  EXPECT_EQ(a.Position(), 0);
  a.SetPosition(300);
  a.RemoveAll();
  EXPECT_EQ(a.Active(), 0);
  EXPECT_EQ(a.Position(), 300) << "the position is kept";
  EXPECT_EQ(a.TotalWeight(), 0);
  EXPECT_FALSE(a.SetActive(0));
  EXPECT_EQ(a.ActiveText(), "");
}

TEST(ProgressAlert, OpensWithDefaultAreaAndDrivesTheWindow) {
  auto log = std::make_shared<WindowLog>();
  Ref<IProgressAlert> alert = CreateProgressAlertOn("Ravex", std::make_unique<RecordingWindow>(log));
  // Closed: only the stored values change.
  alert->SetBarPosition(250);
  alert->SetActiveArea(0);
  alert->CloseAlert();
  alert->PumpMessages();
  EXPECT_TRUE(log->Take().empty());

  ASSERT_TRUE(alert->OpenAlert(nullptr, true));
  EXPECT_EQ(log->Take(), (Calls{"open Ravex active [Please wait...]", "send 250", "pump"}))
      << "the default area, and the position set before opening";
  EXPECT_FALSE(alert->OpenAlert(nullptr, false)) << "open already";
  EXPECT_TRUE(log->Take().empty());

  alert->SetBarPosition(1000);
  alert->SetCaptionText("Ravex");
  alert->SetCaptionText("sending");
  EXPECT_EQ(log->Take(), (Calls{"send 1000", "pump", "caption sending"}));
  EXPECT_EQ(alert->GetCaptionText(), "sending");

  // From another thread the bar is posted and nothing is pumped.
  std::thread worker([&] {
    alert->SetBarPosition(400);
    alert->PumpMessages();
  });
  worker.join();
  EXPECT_EQ(log->Take(), (Calls{"post 400"}));

  alert->CloseAlert();
  alert->CloseAlert();
  EXPECT_EQ(log->Take(), (Calls{"close"}));
  // Reopening keeps areas, area and position.
  ASSERT_TRUE(alert->OpenAlert(nullptr, false));
  EXPECT_EQ(log->Take(), (Calls{"open sending quiet [Please wait...]", "send 400", "pump"}));
  alert.reset();
  EXPECT_EQ(log->Take(), (Calls{"close"})) << "the last reference closes the window";
}

TEST(ProgressAlert, AreasFollowTheWork) {
  auto log = std::make_shared<WindowLog>();
  Ref<IProgressAlert> alert = CreateProgressAlertOn("t", std::make_unique<RecordingWindow>(log));
  alert->AppendArea("main thread", 100);
  alert->AppendArea("worker", 200);
  alert->AppendArea("", 100);
  ASSERT_TRUE(alert->OpenAlert(nullptr, true));
  EXPECT_EQ(log->Take(), (Calls{"open t active [main thread] [worker] [worker]", "send 0", "pump"}));
  alert->FinishArea();
  alert->SetBarPosition(500);
  EXPECT_EQ(log->Take(), (Calls{"label worker", "send 250", "pump", "send 500", "pump"}));
  alert->SetActiveArea(7);
  alert->SetActiveArea(1);
  EXPECT_TRUE(log->Take().empty()) << "ignored indexes";
  alert->SetActiveArea(3);
  EXPECT_EQ(alert->GetActiveArea(), 2);
  EXPECT_EQ(alert->GetBarPosition(), 1000);
  EXPECT_EQ(log->Take(), (Calls{"label worker", "send 1000", "pump"}));
  alert->RemoveAllAreas();
  alert->SetBarPosition(10);
  EXPECT_TRUE(log->Take().empty()) << "no areas: the bar stays";
}

TEST(ProgressLayout, SizesFromMeasuredTextsAndMetrics) {
  ProgressMetrics m;
  m.cxDlgFrame = m.cyDlgFrame = 3;
  m.cySmCaption = 17;
  m.cyVScroll = 16;
  // A very short text: the text area is 220 wide.
  ProgressLayout l = LayoutProgressWindow({{30, 13}}, false, m, true);
  EXPECT_EQ(l.label, (PixelRect{11, 12, 220, 13}));
  EXPECT_EQ(l.bar, (PixelRect{11, 37, 220, 16}));
  EXPECT_EQ(l.window.width, 220 + 22 + 6);
  EXPECT_EQ(l.window.height, 13 + 36 + 17 + 16 + 6);
  EXPECT_EQ(l.window.x, (1024 - l.window.width) / 2);
  EXPECT_EQ(l.window.y, (768 - l.window.height) / 2);
  // With the picture a one-line text is centred on the 26-pixel band beside it.
  l = LayoutProgressWindow({{300, 13}}, true, m, true);
  EXPECT_TRUE(l.picture);
  EXPECT_EQ(l.pictureRect, (PixelRect{9, 9, 32, 32}));
  EXPECT_EQ(l.label, (PixelRect{51, 12 + 6, 300, 26}));
  EXPECT_EQ(l.bar, (PixelRect{11, 50, 340, 16}));
  EXPECT_EQ(l.label.x + l.label.width, l.bar.x + l.bar.width) << "the label ends at the bar's right edge";
  // Later areas can only enlarge the window; the current one starts.
  l = LayoutProgressWindow({{100, 13}, {420, 52}, {200, 26}}, false, m, true);
  EXPECT_EQ(l.label.width, 420);
  EXPECT_EQ(l.label.height, 52);
  // Without activation: bottom right of the work area, or of the full-screen area.
  m.hasWorkArea = true;
  m.workRight = 1000;
  m.workBottom = 700;
  l = LayoutProgressWindow({{30, 13}}, false, m, false);
  EXPECT_EQ(l.window.x + l.window.width, 998);
  EXPECT_EQ(l.window.y + l.window.height, 698);
  m.hasWorkArea = false;
  l = LayoutProgressWindow({{30, 13}}, false, m, false);
  EXPECT_EQ(l.window.x + l.window.width, m.cxFullScreen - 2);
  EXPECT_EQ(l.window.y + l.window.height, m.cyFullScreen + m.cyCaption - 2);
}

TEST(ProgressPicture, BlendOverTheButtonFace) {
  std::vector<uint8_t> resource(kPictureResourceSize, 0);
  resource[0] = 40;
  uint8_t* px = resource.data() + kPictureHeaderSize;
  const uint8_t opaque[] = {0x10, 0x20, 0x30, 0xFF}, clear[] = {0x10, 0x20, 0x30, 0x00}, half[] = {0, 0, 0, 0x7F};
  std::memcpy(px, opaque, 4);
  std::memcpy(px + 4, clear, 4);
  std::memcpy(px + 8, half, 4);
  std::vector<uint8_t> out;
  ASSERT_TRUE(BlendPicture(resource.data(), resource.size(), 0xC0D0E0, out));  // red E0, green D0, blue C0
  ASSERT_EQ(out.size(), 4 * 32 * 32u);
  EXPECT_EQ((std::vector<uint8_t>(out.begin(), out.begin() + 4)), (std::vector<uint8_t>{0x10, 0x20, 0x30, 0xFF}));
  EXPECT_EQ(out[4], (0xC0 * 255 + 0x10) >> 8);
  EXPECT_EQ(out[6], (0xE0 * 255 + 0x30) >> 8);
  EXPECT_EQ(out[8], 0xC0 / 2);
  EXPECT_FALSE(BlendPicture(resource.data(), resource.size() - 1, 0, out)) << "wrong size: not drawn";
  EXPECT_FALSE(BlendPicture(nullptr, kPictureResourceSize, 0, out));
}

#ifdef RVX_SOURCE_DIR
// The pictures the build draws are resources of exactly the size the window draws (a BMP file's resource is
// the file without its 14-byte file header), with transparent, opaque and smoothed pixels.
TEST(ProgressPicture, BuiltPicturesHaveTheDrawnFormat) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("rvx-pictures-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::create_directories(dir);
  std::string command = "/usr/bin/python3 " + (fs::path(RVX_SOURCE_DIR) / "tools/pictures.py").string() + " " +
                        dir.string() + " " + (dir / "pictures.rc").string();
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  for (const char* name : {"RVIPLWAIT", "RVISEND32"}) {
    std::ifstream file(dir / (std::string(name) + ".bmp"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 14 + kPictureResourceSize) << name;
    const auto* resource = reinterpret_cast<const uint8_t*>(bytes.data()) + 14;
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(BlendPicture(resource, kPictureResourceSize, 0xC8D0D4, pixels)) << name;
    int clear = 0, opaque = 0, smooth = 0;
    for (size_t i = 3; i < kPictureResourceSize - kPictureHeaderSize; i += 4) {
      uint8_t a = resource[kPictureHeaderSize + i];
      (a == 0 ? clear : a == 255 ? opaque : smooth)++;
    }
    EXPECT_GT(clear, 0) << name;
    EXPECT_GT(opaque, 100) << name;
    EXPECT_GT(smooth, 0) << name;
  }
  fs::remove_all(dir);
}
#endif

TEST(ProgressAlert, WithoutADesktopNothingOpens) {
#ifndef _WIN32
  Ref<IProgressAlert> alert = CreateProgressAlert("Ravex", 0, "RVIPLWAIT");
  EXPECT_FALSE(alert->OpenAlert(nullptr, true));
  alert->SetBarPosition(100);
  EXPECT_EQ(alert->GetBarPosition(), 100);
#else
  GTEST_SKIP() << "the Windows window is shown by the desktop test";
#endif
}

}  // namespace
}  // namespace rvx
