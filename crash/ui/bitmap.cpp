#include "crash/ui/bitmap.h"

#include <cstring>

#include "crash/ui/bitmap_zoom.h"

namespace rvx {
namespace {

void PutLittleEndian(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
}

}  // namespace

TINVBitmap::TINVBitmap(int width, int height)
    : width_(width), height_(height), bits_(static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {}

INVBitmap TINVBitmap::Create(int width, int height) {
  if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > kMaxBitmapPixels) return nullptr;
  try {
    return INVBitmap(new TINVBitmap(width, height));
  } catch (...) {
    return nullptr;
  }
}

std::string TINVBitmap::InfoHeader() const {
  std::string h;
  PutLittleEndian(h, 40, 4);
  PutLittleEndian(h, static_cast<uint32_t>(width_), 4);
  PutLittleEndian(h, static_cast<uint32_t>(height_), 4);
  PutLittleEndian(h, 1, 2);   // planes
  PutLittleEndian(h, 32, 2);  // bits per pixel
  PutLittleEndian(h, 0, 4);   // no compression
  PutLittleEndian(h, static_cast<uint32_t>(bits_.size()), 4);
  h.append(16, '\0');  // resolution and colour counts
  return h;
}

std::string TINVBitmap::BmpBytes() const {
  std::string out = "BM";
  PutLittleEndian(out, static_cast<uint32_t>(bits_.size() + 54), 4);
  PutLittleEndian(out, 0, 4);
  PutLittleEndian(out, 54, 4);
  out += InfoHeader();
  out.append(reinterpret_cast<const char*>(bits_.data()), bits_.size());
  return out;
}

std::string TINVBitmap::PngBytes(int format) const {
  try {
    return EncodePng(View(), format);
  } catch (...) {  // out of memory: no PNG
    return {};
  }
}

bool TINVBitmap::SaveAsBmp(BitmapFileIo& io, const std::wstring& fileName) const {
  return WriteWholeFile(io, fileName, BmpBytes());
}

bool TINVBitmap::SaveAsPng(BitmapFileIo& io, const std::wstring& fileName, int format) const {
  const std::string png = PngBytes(format);
  return !png.empty() && WriteWholeFile(io, fileName, png);
}

bool TINVBitmap::SaveAsBmp(const std::wstring& fileName) const {
  return SaveAsBmp(*MakePlatformBitmapFileIo(), fileName);
}

bool TINVBitmap::SaveAsPng(const std::wstring& fileName, int format) const {
  return SaveAsPng(*MakePlatformBitmapFileIo(), fileName, format);
}

INVBitmap TINVBitmap::Zoom(int wantW, int wantH) const {
  int w = 0, h = 0;
  if (!FittedSize(width_, height_, wantW, wantH, w, h)) return nullptr;
  INVBitmap result = Create(w, h);
  if (!result) return nullptr;
  try {
    result->bits_ = Resample(View(), w, h);
  } catch (...) {  // out of memory: no zoomed picture
    return nullptr;
  }
  return result;
}

bool WriteWholeFile(BitmapFileIo& io, const std::wstring& path, std::string_view bytes) {
  if (!io.Create(path)) return false;
  const bool written = io.Write(bytes.data(), bytes.size());
  const bool closed = io.Close();
  if (written && closed) return true;
  io.Delete(path);
  return false;
}

}  // namespace rvx
