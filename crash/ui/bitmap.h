// The 32-bit picture of the crash reporter (screenshots, the assistant's preview, pictures loaded from BMP
// files): pixels blue, green, red, unused; rows bottom-up, 4 * width bytes each. It is turned into BMP or
// PNG bytes, saved as either, and zoomed into a smaller or larger picture.
//
// Used by one thread at a time. Encoding never changes the picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crash/ui/png_encoder.h"

namespace rvx {

class BitmapFileIo;
class TINVBitmap;
using INVBitmap = std::shared_ptr<TINVBitmap>;

// Largest picture accepted (width * height pixels): 256 Mi pixels, 1 GiB of pixel memory.
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 28;

class TINVBitmap {
 public:
  // A black picture; none when a size is not positive or the picture is too large.
  static INVBitmap Create(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  uint8_t* Bits() { return bits_.data(); }
  const uint8_t* Bits() const { return bits_.data(); }
  PixelView View() const { return {width_, height_, bits_.data()}; }

  // The 40-byte information header this picture is described by.
  std::string InfoHeader() const;
  // A BMP file: 14-byte file header, information header, the pixel memory unchanged.
  std::string BmpBytes() const;
  // A PNG file of the given format (see EncodePng).
  std::string PngBytes(int format) const;
  // Create or overwrite the file; a file that was not written completely is deleted again. True only for a
  // complete file.
  bool SaveAsBmp(const std::wstring& fileName) const;
  bool SaveAsPng(const std::wstring& fileName, int format) const;
  bool SaveAsBmp(BitmapFileIo& io, const std::wstring& fileName) const;
  bool SaveAsPng(BitmapFileIo& io, const std::wstring& fileName, int format) const;
  // A resampled copy fitted into wantW x wantH keeping the proportions; none for sizes that are not positive.
  INVBitmap Zoom(int wantW, int wantH) const;

 private:
  TINVBitmap(int width, int height);
  int width_;
  int height_;
  std::vector<uint8_t> bits_;
};

// A picture from the bytes of a BMP file: uncompressed 1, 4, 8, 24 and 32 bits per pixel (32 bits also with
// bit-field masks), rows bottom-up or top-down. None for anything else and for any file that is cut short
// or states sizes its bytes do not hold.
INVBitmap BitmapFromBmpBytes(std::string_view bytes);

// The file access of saving; MakePlatformBitmapFileIo() gives the platform's.
class BitmapFileIo {
 public:
  virtual ~BitmapFileIo() = default;
  // Creates or truncates the file for exclusive writing.
  virtual bool Create(const std::wstring& path) = 0;
  // Appends; false on failure or a short write.
  virtual bool Write(const void* data, size_t size) = 0;
  // Closes the file; false when the data could not be flushed.
  virtual bool Close() = 0;
  virtual void Delete(const std::wstring& path) = 0;
};
std::unique_ptr<BitmapFileIo> MakePlatformBitmapFileIo();

// Writes bytes as a whole file, deleting it when it could not be written completely.
bool WriteWholeFile(BitmapFileIo& io, const std::wstring& path, std::string_view bytes);

}  // namespace rvx
