// Pictures as reference-counted objects: the exception record keeps its screenshot as such an object (it
// knows nothing of bitmaps), and whoever takes, shows, edits or sends the screenshot wraps or unwraps it here.
#pragma once

#include "crash/core/refobject.h"
#include "crash/delivery/send.h"
#include "crash/ui/bitmap.h"

namespace rvx {

class IRVPicture : public virtual IRefCounted {
 public:
  virtual INVBitmap Bitmap() = 0;
};

// None for no bitmap. The object is also an IScreenshotPicture, so that sending can attach it as a PNG file.
Ref<IRefCounted> MakePictureObject(INVBitmap bitmap);
// The bitmap of an object made by MakePictureObject; none for anything else.
INVBitmap PictureOf(const Ref<IRefCounted>& object);

}  // namespace rvx
