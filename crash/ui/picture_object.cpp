// Pictures as reference-counted objects; see picture_object.h.
#include "crash/ui/picture_object.h"

namespace rvx {

namespace {
class TRVPicture final : public RefObject<IRVPicture, IScreenshotPicture> {
 public:
  explicit TRVPicture(INVBitmap bitmap) : bitmap_(std::move(bitmap)) {}
  INVBitmap Bitmap() override { return bitmap_; }
  bool SaveAsPng(const std::wstring& file, int format) override { return bitmap_->SaveAsPng(file, format); }

 private:
  INVBitmap bitmap_;
};
}  // namespace

Ref<IRefCounted> MakePictureObject(INVBitmap bitmap) {
  if (!bitmap) return nullptr;
  return Ref<IRefCounted>(new TRVPicture(std::move(bitmap)));
}

INVBitmap PictureOf(const Ref<IRefCounted>& object) {
  Ref<IRVPicture> picture = Query<IRVPicture>(object);
  return picture ? picture->Bitmap() : nullptr;
}

}  // namespace rvx
