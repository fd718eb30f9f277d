#include "HookBitmap.h"

#include <algorithm>

THookBitmap::THookBitmap(int AWidth, int AHeight, THookBitmapPixelFormat AFormat)
    : FWidth(std::max(AWidth, 0)),
      FHeight(std::max(AHeight, 0)),
      FFormat(AFormat),
      FStride((FWidth * 3 + 3) & ~3),
      FPixels(static_cast<size_t>(FStride) * FHeight) {}

uint8_t* THookBitmap::ScanLine(int ARow) {
  if (ARow < 0 || ARow >= FHeight) return nullptr;
  return FPixels.data() + static_cast<size_t>(ARow) * FStride;
}
