// Frame hooks: before a decoded picture goes on to the filters and the encoders, the
// host may see and repaint it as a 24-bit bitmap (the custom hook), or frame hook
// modules process it in the decoder's own format. The same step makes the engine's
// private copy of the picture and deinterlaces it.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "FFmpegRun.h"

namespace {

constexpr int BicubicScaling = SWS_BICUBIC;

// A conversion context between two formats of one size, reusing AContext when it
// fits; empty when the library cannot convert.
void CacheConversion(TSwsContextPtr& AContext, int AWidth, int AHeight, AVPixelFormat AFrom, AVPixelFormat ATo) {
  // The library aborts the process on a format it does not know: ask first.
  if (AFrom < 0 || ATo < 0 || !av::sws_isSupportedInput(AFrom) || !av::sws_isSupportedOutput(ATo)) {
    AContext.reset();
    return;
  }
  // The library frees a context that does not fit before it makes the new one.
  SwsContext* Context = av::sws_getCachedContext(AContext.release(), AWidth, AHeight, AFrom, AWidth, AHeight, ATo,
                                                 BicubicScaling, nullptr, nullptr, nullptr);
  AContext.reset(Context);
}

void Convert(SwsContext* AContext, uint8_t* const ASource[4], const int ASourceLines[4], int AHeight,
             uint8_t* const ATarget[4], const int ATargetLines[4]) {
  av::sws_scale(AContext, ASource, ASourceLines, 0, AHeight, ATarget, ATargetLines);
}

// Holds the bitmap's canvas for the host's drawing, released on every way out.
class TCanvasLock {
public:
  explicit TCanvasLock(THookBitmap& ABitmap) : FBitmap(ABitmap) { FBitmap.Lock(); }
  ~TCanvasLock() { FBitmap.Unlock(); }
  TCanvasLock(const TCanvasLock&) = delete;
  TCanvasLock& operator=(const TCanvasLock&) = delete;

private:
  THookBitmap& FBitmap;
};

}  // namespace

void TCustomFFmpeg::PreProcessVideoFrame(InputStream& AIst, AVFrame*& APicture) {
  ++HookFrameNumber;
  const int64_t HookPts = AIst.Pts;
  if (!OnCustomHookHandler && UsingVHook) DecideModuleHooking(HookPts);

  const bool ModulesRun = !OnCustomHookHandler && UsingVHook && HookAction == haContinue;
  if (!DoDeinterlace && !OnCustomHookHandler && !ModulesRun) return;

  AVFrame* Work = MakePrivateCopy(AIst, APicture);
  if (!Work) return;

  if (OnCustomHookHandler)
    RunCustomHook(Work, HookPts);
  else if (ModulesRun) {
    THookPicture Picture{};
    for (int P = 0; P < 4; ++P) {
      Picture.data[P] = Work->data[P];
      Picture.linesize[P] = Work->linesize[P];
    }
    // Modules change the pixels in place; the copy's own planes go on.
    ProcessFrameHooks(FrameHookList, &Picture, static_cast<AVPixelFormat>(Work->format), Work->width, Work->height,
                      HookPts);
  }
  APicture = Work;
}

void TCustomFFmpeg::DecideModuleHooking(int64_t AHookPts) {
  if (OnBeforeHookHandler) {
    try {
      OnBeforeHookHandler(this, AHookPts, HookAction);
    } catch (const std::exception& E) {
      Log(0, std::string("Error occurs OnBeforeHook: ") + E.what());
      HookAction = haStop;
    }
    if (HookAction == haStop) UsingVHook = false;
    return;
  }
  const int32_t Count = std::min<int32_t>(HookRangeCount, static_cast<int32_t>(HookRanges.size()));
  if (Count <= 0) return;  // no range list: the last decision stands
  HookAction = haIgnore;
  for (int32_t I = std::max<int32_t>(HookRangeIndex, 0); I < Count; ++I) {
    const THookRange& Range = HookRanges[I];
    if (Range.Start <= AHookPts && AHookPts <= Range.End) {
      HookRangeIndex = I;
      HookAction = haContinue;
      return;
    }
    if (I == Count - 1 && Range.End < AHookPts) {
      HookAction = haStop;
      UsingVHook = false;
    }
  }
}

// The engine's own copy of the picture, deinterlaced when asked: hooks never write
// into the decoder's picture, which later pictures may still refer to. Null when no
// copy can be had; the picture then goes on untouched.
AVFrame* TCustomFFmpeg::MakePrivateCopy(InputStream& AIst, const AVFrame* APicture) {
  if (!AIst.Deinterlaced) AIst.Deinterlaced.reset(av::av_frame_alloc());
  AVFrame* Copy = AIst.Deinterlaced.get();
  if (!Copy) {
    Log(0, "hook buf malloc error.");
    return nullptr;
  }
  // A buffer the encoder or the filters may still read is never written again: take a
  // new one.
  if (!av::av_frame_is_writable(Copy) || Copy->width != APicture->width || Copy->height != APicture->height ||
      Copy->format != APicture->format) {
    av::av_frame_unref(Copy);
    Copy->format = APicture->format;
    Copy->width = APicture->width;
    Copy->height = APicture->height;
    if (av::av_frame_get_buffer(Copy, 0) < 0) {
      av::av_frame_unref(Copy);
      Log(0, "hook buf malloc error.");
      return nullptr;
    }
  }
  HookPicBufferSize = av::av_image_get_buffer_size(static_cast<AVPixelFormat>(Copy->format), Copy->width,
                                                   Copy->height, 1);
  bool Copied = false;
  if (DoDeinterlace) {
    Copied = DeinterlacePicture(ViewOfFrame(Copy), ViewOfFrame(APicture)) >= 0;
    if (!Copied) Log(0, "Deinterlacing failed.");
  }
  // Without deinterlacing, or when it failed, the hooks still work on a copy.
  if (!Copied) {
    const uint8_t* Source[4] = {APicture->data[0], APicture->data[1], APicture->data[2], APicture->data[3]};
    av::av_image_copy(Copy->data, Copy->linesize, Source, APicture->linesize,
                      static_cast<AVPixelFormat>(APicture->format), APicture->width, APicture->height);
  }
  av::av_frame_copy_props(Copy, APicture);
  return Copy;
}

void TCustomFFmpeg::RunCustomHook(AVFrame* AWork, int64_t AHookPts) {
  const int W = AWork->width, H = AWork->height;
  const auto Fmt = static_cast<AVPixelFormat>(AWork->format);
  const auto RgbFmt = static_cast<AVPixelFormat>(HookPixFmt);
  // The bitmap follows the picture's size, so rows are never copied past its end.
  if (!HookBitmap || HookBitmap->Width() != W || HookBitmap->Height() != H)
    HookBitmap = std::make_unique<THookBitmap>(W, H, HookBitmapPixelFormat);

  bool Stop = false;
  uint8_t* RgbData[4]{};
  int RgbLines[4]{};
  if (RgbFmt == Fmt) {
    std::copy(AWork->data, AWork->data + 4, RgbData);
    std::copy(AWork->linesize, AWork->linesize + 4, RgbLines);
  } else {
    const int Size = av::av_image_get_buffer_size(RgbFmt, W, H, 1);
    try {
      if (Size > 0 && HookBufferSize < Size) {
        HookBuffer.resize(static_cast<size_t>(Size));
        HookBufferSize = Size;
      }
    } catch (const std::bad_alloc&) {
      Log(0, "hook buf malloc error.");
      return;
    }
    CacheConversion(ToRgbContext, W, H, Fmt, RgbFmt);
    if (Size <= 0 || !ToRgbContext ||
        av::av_image_fill_arrays(RgbData, RgbLines, HookBuffer.data(), RgbFmt, W, H, 1) < 0) {
      Log(0, "Cannot initialize the toRGB conversion context");
      Stop = true;
    } else
      Convert(ToRgbContext.get(), AWork->data, AWork->linesize, H, RgbData, RgbLines);
  }

  if (!Stop) {
    const size_t RowBytes = static_cast<size_t>(std::clamp(RgbLines[0], 0, HookBitmap->Stride()));
    for (int R = 0; R < H; ++R)
      std::memcpy(HookBitmap->ScanLine(R), RgbData[0] + static_cast<ptrdiff_t>(R) * RgbLines[0], RowBytes);
    bool Update = true;
    if (!CallCustomHook(AHookPts, Update, Stop)) Update = false;
    if (Update) {
      for (int R = 0; R < H; ++R)
        std::memcpy(RgbData[0] + static_cast<ptrdiff_t>(R) * RgbLines[0], HookBitmap->ScanLine(R), RowBytes);
      if (RgbFmt != Fmt) {
        CacheConversion(FromRgbContext, W, H, RgbFmt, Fmt);
        if (!FromRgbContext) {
          Log(0, "Cannot initialize the fromRGB conversion context");
          Stop = true;
        } else
          Convert(FromRgbContext.get(), RgbData, RgbLines, H, AWork->data, AWork->linesize);
      }
    }
  }
  if (Stop) {
    OnCustomHookHandler = nullptr;
    HookAction = haStop;
    UsingVHook = false;
  }
}

// The host's call, with the bitmap's canvas locked; false when the handler raised.
bool TCustomFFmpeg::CallCustomHook(int64_t AHookPts, bool& AUpdate, bool& AStop) {
  AStop = false;
  // The handler may clear itself; keep it alive for the call.
  const TCustomHookHandler Handler = OnCustomHookHandler;
  TCanvasLock Canvas(*HookBitmap);
  try {
    Handler(this, HookBitmap.get(), HookFrameNumber, AHookPts, AUpdate, AStop);
  } catch (const std::exception& E) {
    Log(0, std::string("Error occurs OnCustomHook: ") + E.what());
    return false;
  }
  return true;
}
