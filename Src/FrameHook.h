// Frame hook modules: separately built shared objects that process every decoded
// picture in place. A module exports "Configure", "Process" and "Release" (C linkage).
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

// Plane pointers and line sizes of a picture, as the modules receive it.
struct THookPicture {
  uint8_t* data[4];
  int linesize[4];
};

extern "C" {
typedef int (*TFrameHookConfigureFn)(void** ACtxP, int AArgc, char* AArgv[]);
typedef void (*TFrameHookProcessFn)(void* ACtx, THookPicture* APicture, enum AVPixelFormat APixFmt,
                                    int AWidth, int AHeight, int64_t APts);
typedef void (*TFrameHookReleaseFn)(void* ACtx);
}

struct TFrameHookRecord {
  TFrameHookConfigureFn Configure = nullptr;
  TFrameHookProcessFn Process = nullptr;
  TFrameHookReleaseFn Release = nullptr;
  void* Context = nullptr;
};

// Records in the order they were added.
using TFrameHookList = std::vector<TFrameHookRecord>;

// Lets every module release its context, then empties the list.
void ReleaseFrameHooks(TFrameHookList& AList);
