// The picture object: BMP bytes and reading BMP files back, zoom, and saving that never leaves a partial file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "crash/ui/bitmap.h"
#include "crash/ui/bitmap_zoom.h"
#include "tests/ui/test_pictures.h"

namespace rvx {
namespace {

namespace fs = std::filesystem;
using test::SetPixel;

std::string Bytes(const TINVBitmap& b) {
  return std::string(reinterpret_cast<const char*>(b.Bits()), static_cast<size_t>(b.Width()) * b.Height() * 4);
}

uint32_t Le32(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 | static_cast<uint8_t>(s[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

TEST(BitmapBmp, BytesHaveTheHeadersAndReadBack) {
  INVBitmap b = test::Gradient(7, 5);
  const std::string bmp = b->BmpBytes();
  ASSERT_EQ(bmp.size(), 54u + 7 * 5 * 4);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(Le32(bmp, 2), bmp.size());
  EXPECT_EQ(Le32(bmp, 6), 0u);
  EXPECT_EQ(Le32(bmp, 10), 54u);
  EXPECT_EQ(Le32(bmp, 14), 40u);
  EXPECT_EQ(Le32(bmp, 18), 7u);
  EXPECT_EQ(Le32(bmp, 22), 5u);
  EXPECT_EQ(Le32(bmp, 26), 1u | 32u << 16);  // planes, bits per pixel
  EXPECT_EQ(Le32(bmp, 30), 0u);
  EXPECT_EQ(Le32(bmp, 34), 7u * 5 * 4);
  EXPECT_EQ(bmp.substr(38, 16), std::string(16, '\0'));
  INVBitmap back = BitmapFromBmpBytes(bmp);
  ASSERT_TRUE(back);
  EXPECT_EQ(Bytes(*back), Bytes(*b));
}

// A BMP file with the given header fields; `table` and `pixels` follow the 40-byte header.
std::string Bmp(int32_t width, int32_t height, int bpp, const std::string& table, const std::string& pixels,
                uint32_t compression = 0) {
  std::string h = "BM";
  auto put = [&h](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) h += static_cast<char>(v >> (8 * i));
  };
  put(static_cast<uint32_t>(54 + table.size() + pixels.size()), 4);
  put(0, 4);
  put(static_cast<uint32_t>(54 + table.size()), 4);
  put(40, 4);
  put(static_cast<uint32_t>(width), 4);
  put(static_cast<uint32_t>(height), 4);
  put(1, 2);
  put(static_cast<uint32_t>(bpp), 2);
  put(compression, 4);
  h.append(20, '\0');
  return h + table + pixels;
}

TEST(BitmapBmp, ReadsOtherDepthsAndTopDownRows) {
  // 24 bits, top-down, 2 x 2: rows padded to 8 bytes.
  const std::string rows24 = std::string("\x01\x02\x03\x04\x05\x06\0\0", 8) + std::string("\x07\x08\x09\x0A\x0B\x0C\0\0", 8);
  INVBitmap b = BitmapFromBmpBytes(Bmp(2, -2, 24, "", rows24));
  ASSERT_TRUE(b);
  // Our rows are bottom-up: the file's first (top) row is our last.
  EXPECT_EQ(Bytes(*b), std::string("\x07\x08\x09\0\x0A\x0B\x0C\0\x01\x02\x03\0\x04\x05\x06\0", 16));

  // 4 bits with a two-entry table (colours used = 0 means 16, so the table must hold 16 entries).
  std::string table(16 * 4, '\0');
  table.replace(4, 4, "\x10\x20\x30\x00", 4);
  INVBitmap p = BitmapFromBmpBytes(Bmp(3, 1, 4, table, std::string("\x01\x10\0\0", 4)));
  ASSERT_TRUE(p);
  EXPECT_EQ(Bytes(*p), std::string("\0\0\0\0\x10\x20\x30\0\x10\x20\x30\0", 12));

  // 16 bits, 5-5-5: white and pure red.
  INVBitmap s = BitmapFromBmpBytes(Bmp(2, 1, 16, "", std::string("\xFF\x7F\x00\x7C", 4)));
  ASSERT_TRUE(s);
  EXPECT_EQ(Bytes(*s), std::string("\xFF\xFF\xFF\0\0\0\xFF\0", 8));
}

TEST(BitmapBmp, CutOrLyingFilesGiveNoPicture) {
  const std::string good = test::Gradient(5, 4)->BmpBytes();
  for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(BitmapFromBmpBytes(good.substr(0, n))) << "cut at " << n;
  auto with = [&good](size_t at, uint32_t v) {
    std::string s = good;
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  EXPECT_FALSE(BitmapFromBmpBytes(with(10, 0xFFFFFFF0u))) << "pixel offset past the end";
  EXPECT_FALSE(BitmapFromBmpBytes(with(14, 0x7FFFFFFFu))) << "header size past the end";
  EXPECT_FALSE(BitmapFromBmpBytes(with(18, 0x10000u))) << "width the bytes do not hold";
  EXPECT_FALSE(BitmapFromBmpBytes(with(22, 0x80000000u))) << "most negative height";
  EXPECT_FALSE(BitmapFromBmpBytes(with(18, 0x7FFFFFFFu))) << "huge width";
  EXPECT_FALSE(BitmapFromBmpBytes(with(18, 0))) << "no width";
  EXPECT_FALSE(BitmapFromBmpBytes(with(30, 1))) << "run-length compression";
  // An 8-bit file whose table is larger than the file.
  EXPECT_FALSE(BitmapFromBmpBytes(Bmp(1, 1, 8, std::string(8, '\0'), std::string(4, '\0'))));
}

TEST(BitmapZoom, FitsIntoTheWantedBoxKeepingProportions) {
  INVBitmap b = test::Gradient(400, 200);
  INVBitmap z = b->Zoom(100, 100);
  ASSERT_TRUE(z);
  EXPECT_EQ(z->Width(), 100);
  EXPECT_EQ(z->Height(), 50);
  INVBitmap same = b->Zoom(400, 200);
  ASSERT_TRUE(same);
  EXPECT_EQ(same->Width(), 400);
  EXPECT_EQ(same->Height(), 200);
  z = b->Zoom(100, 10);
  ASSERT_TRUE(z);
  EXPECT_EQ(z->Width(), 20);
  EXPECT_EQ(z->Height(), 10);
  EXPECT_FALSE(b->Zoom(0, 100));
  EXPECT_FALSE(b->Zoom(100, -1));
  // Extreme proportions keep at least one pixel.
  z = test::Gradient(4000, 2)->Zoom(100, 100);
  ASSERT_TRUE(z);
  EXPECT_EQ(z->Width(), 100);
  EXPECT_EQ(z->Height(), 1);
}

TEST(BitmapZoom, FlatPicturesStayFlatAndTinySourcesAreSafe) {
  // The weights of every destination pixel add up to one, so a flat colour survives any scale; sources of one
  // or two pixels mirror their edges without reading outside.
  for (auto [w, h, ww, wh] : {std::array{1, 1, 9, 9}, {2, 1, 20, 10}, {3, 2, 7, 5}, {64, 48, 16, 12}, {50, 50, 37, 37}}) {
    INVBitmap b = TINVBitmap::Create(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) SetPixel(*b, x, y, 200, 100, 50);
    INVBitmap z = b->Zoom(ww, wh);
    ASSERT_TRUE(z);
    for (int i = 0; i < z->Width() * z->Height(); ++i) {
      const uint8_t* p = z->Bits() + i * 4;
      EXPECT_NEAR(p[2], 200, 2);
      EXPECT_NEAR(p[1], 100, 2);
      EXPECT_NEAR(p[0], 50, 2);
      EXPECT_EQ(p[3], 0);
    }
  }
  // The kernel: 8/9 at 0, 1/18 at 1, 0 from 2 on.
  EXPECT_NEAR(MitchellNetravali(0), 8.0 / 9, 1e-12);
  EXPECT_NEAR(MitchellNetravali(1), 1.0 / 18, 1e-12);
  EXPECT_NEAR(MitchellNetravali(2), 0, 1e-12);
}

TEST(BitmapZoom, SharpEdgeIsResampledWithOvershootClamped) {
  // Black left half, white right half: the filter's overshoot is clamped, the halves keep their colours away
  // from the edge, and the edge lies in the middle.
  INVBitmap b = TINVBitmap::Create(40, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 20; x < 40; ++x) SetPixel(*b, x, y, 255, 255, 255);
  INVBitmap z = b->Zoom(80, 8);
  ASSERT_TRUE(z);
  const uint8_t* row = z->Bits();
  EXPECT_LE(row[10 * 4], 2);
  EXPECT_GE(row[70 * 4], 253);
  EXPECT_LT(row[36 * 4], 128);
  EXPECT_GT(row[42 * 4], 128);
}

class FailingIo : public BitmapFileIo {
 public:
  bool failCreate = false, failWrite = false, failClose = false;
  bool deleted = false;
  std::string data;
  bool Create(const std::wstring&) override { return !failCreate; }
  bool Write(const void* p, size_t n) override {
    if (failWrite) n /= 2;  // a short write
    data.append(static_cast<const char*>(p), n);
    return !failWrite;
  }
  bool Close() override { return !failClose; }
  void Delete(const std::wstring&) override { deleted = true; }
};

TEST(BitmapSave, IncompleteFilesAreDeletedAndReportedAsFailures) {
  INVBitmap b = test::Gradient(8, 8);
  FailingIo shortWrite;
  shortWrite.failWrite = true;
  EXPECT_FALSE(b->SaveAsBmp(shortWrite, L"x.bmp"));
  EXPECT_TRUE(shortWrite.deleted);
  FailingIo lostOnClose;
  lostOnClose.failClose = true;
  EXPECT_FALSE(b->SaveAsPng(lostOnClose, L"x.png", 0));
  EXPECT_TRUE(lostOnClose.deleted);
  FailingIo noFile;
  noFile.failCreate = true;
  EXPECT_FALSE(b->SaveAsPng(noFile, L"x.png", 1));
  EXPECT_FALSE(noFile.deleted);
  FailingIo fine;
  EXPECT_TRUE(b->SaveAsBmp(fine, L"x.bmp"));
  EXPECT_FALSE(fine.deleted);
  EXPECT_EQ(fine.data, b->BmpBytes());
}

TEST(BitmapSave, RealFilesAreWrittenOrNotCreated) {
  const fs::path dir = fs::temp_directory_path() / ("bitmap_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + std::to_string(reinterpret_cast<uintptr_t>(&dir) & 0xFFFF));
  fs::remove_all(dir);
  fs::create_directories(dir);
  INVBitmap b = test::Gradient(16, 9);
  const fs::path bmp = dir / "shot.bmp", png = dir / "shot.png";
  ASSERT_TRUE(b->SaveAsBmp(bmp.wstring()));
  ASSERT_TRUE(b->SaveAsPng(png.wstring(), 0));
  {
    std::ifstream f(bmp, std::ios::binary);  // closed before the folder goes: Windows keeps an open file
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), b->BmpBytes());
  }
  EXPECT_EQ(fs::file_size(png), b->PngBytes(0).size());
  EXPECT_FALSE(b->SaveAsBmp((dir / "missing" / "x.bmp").wstring()));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace rvx
