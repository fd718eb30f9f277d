// Frame hook modules: separately built shared objects that process every decoded
// picture in place. A module exports "Configure", "Process" and "Release" (C linkage).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
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
  // The split argument text: a module may keep pointers into its arguments.
  std::shared_ptr<std::vector<char>> Arguments;
};

// Records in the order they were added.
using TFrameHookList = std::vector<TFrameHookRecord>;

// Loads (once per process and name) the module named by AArgv[0], configures it with
// the arguments and appends it to AList. 0 on success; -1 the module cannot be
// loaded, -2 no arguments or an entry is missing, -22 Configure refused.
int AddFrameHook(TFrameHookList& AList, int AArgc, char* AArgv[],
                 std::shared_ptr<std::vector<char>> AArguments = nullptr);
// Splits AText into the module name and its arguments ("|" separates when the text
// holds one, else a space; at most 63 tokens) and calls AddFrameHook.
int AddFrameHookFromText(TFrameHookList& AList, const std::string& AText);
// Runs every module on the picture, in the order they were added.
void ProcessFrameHooks(TFrameHookList& AList, THookPicture* APicture, AVPixelFormat APixFmt, int AWidth,
                       int AHeight, int64_t APts);

// Lets every module release its context, then empties the list.
void ReleaseFrameHooks(TFrameHookList& AList);
