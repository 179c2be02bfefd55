// Pictures from the system (Windows only): the screen or the program's own windows with the mouse cursor,
// BMP files of any format the system reads, and drawing a picture on a device context.
#pragma once

#include <string>

#include "crash/ui/bitmap.h"

namespace rvx {

// The whole (virtual) screen, or with programWindowsOnly the box around the program's visible top-level
// windows, where everything that is not a visible part of them stays white. None when there is nothing to
// take or a step fails.
INVBitmap TakeScreenShot(bool programWindowsOnly);

// A BMP file loaded by the system and copied into a new 32-bit picture; none on any failure.
INVBitmap LoadBitmapFile(const std::wstring& fileName);

// Copies the whole picture to the device context (an HDC) at (x, y).
void DrawBitmap(void* deviceContext, const TINVBitmap& bitmap, int x, int y);

}  // namespace rvx
