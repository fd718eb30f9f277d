// The 24-bit picture handed to the host's custom frame hook: blue, green, red bytes
// per pixel, rows top first. The host locks it while it draws.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

enum class THookBitmapPixelFormat { pf24bit };

class THookBitmap {
public:
  THookBitmap(int AWidth, int AHeight, THookBitmapPixelFormat AFormat = THookBitmapPixelFormat::pf24bit);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  THookBitmapPixelFormat PixelFormat() const { return FFormat; }
  // Bytes per row, padded to a multiple of four like a device-independent bitmap.
  int Stride() const { return FStride; }
  // Row ARow (0 = top); null outside the picture.
  uint8_t* ScanLine(int ARow);

  void Lock() { FCanvasLock.lock(); }
  void Unlock() { FCanvasLock.unlock(); }

private:
  int FWidth;
  int FHeight;
  THookBitmapPixelFormat FFormat;
  int FStride;
  std::vector<uint8_t> FPixels;
  std::recursive_mutex FCanvasLock;
};
