// The two plain records a host fills to describe how a task's input is read and how
// its output is written, and their application to an engine. Every default leaves
// the engine's own default in place, so a host resets a record and sets only what it
// wants to change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FFmpeg.h"

struct TInputOptions {
  std::string FileName;      // filled in by the component when empty
  std::string FormatName;    // forced demuxer
  int32_t StartTimeMs = -1;  // where reading starts
  int32_t ProgramId = -1;    // program to keep of a multi-program input
  std::string ExtraOptions;  // "name=value" lines for SetOptionByName
};

// Room of the meta-data texts, counting the terminating zero of the fixed character
// arrays they used to be: a longer text is cut to one byte less.
constexpr size_t MetaTextSize = 512;
constexpr size_t GenreTextSize = 32;

struct TOutputOptions {
  std::string FileName;  // filled in by the component when empty
  std::string FormatName;
  int32_t PacketSize = -1;
  int32_t MuxRate = -1;
  float MuxDelay = -1.0f;    // seconds
  float MuxPreload = -1.0f;  // seconds

  std::string AudioCodec;  // encoder name or "copy"
  bool DisableAudio = false;
  int32_t AudioVolume = -1;  // 256 = unchanged
  int32_t AudioChannels = -1;
  int32_t AudioSampleRate = -1;        // Hz
  int32_t AudioBitrate = -1;           // bit/s
  int32_t AudioBitrateTolerance = -1;  // bit/s
  std::string AudioLanguage;           // written even when empty
  int32_t AudioSync = 0;               // written always
  std::string AudioTag;

  std::string VideoCodec;  // encoder name or "copy"
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string AspectRatio;
  int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
  int32_t PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
  // 0xBBGGRR: red in the low byte, as SetPadColor takes it. There are no system
  // colours here, so the top byte carries nothing and is ignored. Written always.
  int32_t PadColor = 0;
  int32_t GopSize = -1;
  int32_t VideoBitrate = -1;           // bit/s
  int32_t VideoMaxRate = -1;           // bit/s
  int32_t VideoMinRate = -1;           // bit/s
  int32_t VideoBitrateTolerance = -1;  // bit/s
  int32_t VideoBufferSize = -1;        // bits
  int32_t VideoSync = -1;              // written always
  std::string VideoTag;
  std::string VideoFilters;

  bool DisableSubtitle = false;
  std::string SubtitleLanguage;  // written even when empty
  bool CopyTimestamps = false;   // written always
  int32_t DurationMs = -1;
  // Local date-time in days since 1899-12-30; 0.0 is now, a negative value leaves
  // the engine's recording time stamp alone.
  double Timestamp = -1.0;

  int32_t Year = -1;
  int32_t Track = -1;
  std::string Title;      // at most MetaTextSize - 1 bytes are used
  std::string Author;     // at most MetaTextSize - 1 bytes are used
  std::string Copyright;  // at most MetaTextSize - 1 bytes are used
  std::string Comment;    // at most MetaTextSize - 1 bytes are used
  std::string Album;      // at most MetaTextSize - 1 bytes are used
  std::string Genre;      // at most GenreTextSize - 1 bytes are used

  int32_t Target = 0;              // 0 none, 1 video CD, 2 super video CD, 3 DVD
  int32_t TargetNorm = 0;          // 0 automatic, 1 PAL, 2 NTSC, other automatic
  int32_t TargetFallbackNorm = 1;  // 1 PAL, other NTSC
  bool CustomHook = false;         // relay every picture to the host's custom hook
  bool BeforeHook = false;         // the host decides per picture whether modules run
  std::string HookRanges;          // "start-end" in milliseconds, comma-separated
  std::string ExtraOptions;        // "name=value" lines for SetOptionByName
};

void ResetInputOptions(TInputOptions& AOptions);
void ResetOutputOptions(TOutputOptions& AOptions);

// Hands every line of AText to SetOptionByName, split at its first "=" (a line
// without one is all name). Blanks around the whole text go; those inside a line
// stay. Empty lines are passed too.
void ApplyExtraOptions(TCustomFFmpeg& AEngine, const std::string& AText);

// Extra options, forced format, start time and program, in that order.
void ApplyInputOptions(TCustomFFmpeg& AEngine, const TInputOptions& AOptions);

// Extra options, then every typed field in declaration order, then the target
// preset. The hooks are left to the caller, who binds its own relays; without
// either hook flag it hands ParseHookRanges(HookRanges) to SetHookRanges.
// A setter's exception stops the application at that field.
void ApplyOutputOptionFields(TCustomFFmpeg& AEngine, const TOutputOptions& AOptions);

// The norm and fallback texts SetTarget gets for a record's target fields; false
// when the record asks for no preset.
bool TargetArguments(const TOutputOptions& AOptions, std::string& AKind, std::string& ANorm,
                     std::string& AFallbackNorm);

// "1000-2000, 5000-6000" (milliseconds) as ranges in microseconds. A piece is kept
// when start <= end and end >= 0; a part that is no number counts as -1 ms.
std::vector<THookRange> ParseHookRanges(const std::string& AText);

// ---------------------------------------------------------------------------
// Recording time stamps

// Seconds since 1970-01-01 UTC of a local date-time ADays (days since 1899-12-30)
// whose zone is ABiasMinutes behind UTC (positive west of Greenwich), rounded to the
// nearest second, halves to even. Saturates at the limits of int64.
int64_t TimestampToUnixSeconds(double ADays, int32_t ABiasMinutes);

// The offset from UTC in force at the local date-time ADays, daylight saving
// included, in minutes, positive west of Greenwich.
int32_t LocalBiasMinutesAt(double ADays);

// The local date-time now, in days since 1899-12-30.
double LocalNowInDays();

// What the engine's RecTimestamp becomes for a record's Timestamp: false when it is
// to stay as it is (negative or not a number). 0.0 stands for now.
bool RecTimestampFor(double ATimestamp, int64_t& ASeconds);
