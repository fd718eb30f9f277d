// The media probe: opens a file only to learn what it holds (how many streams of each
// kind, and one audio or video stream's codec, timing and parameters). It never
// decodes. It can also sit on an input that the engine opened (Attach), which it then
// reads but never closes.
#pragma once

#include <cstdint>
#include <string>

#include "AVHolders.h"

// One audio stream's parameters; -1 (and empty texts) where the stream says nothing.
struct TAudioStreamInfo {
  std::string Language;     // the stream's "language" tag
  std::string CodecName;    // the library's name of the codec
  int64_t StartTime = -1;   // stream time base; INT64_MIN when the stream has none
  int64_t StartTimeUs = -1;
  int64_t Duration = -1;    // stream time base; INT64_MIN when the stream has none
  int64_t DurationUs = -1;
  int32_t BitRate = -1;     // bit/s, 0 when the container does not tell
  int32_t Channels = -1;
  int32_t SampleRate = -1;
  int32_t SampleFormat = -1;  // AVSampleFormat
};

struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeUs = -1;
  int64_t Duration = -1;
  int64_t DurationUs = -1;
  int32_t BitRate = -1;
  int32_t Height = -1;
  int32_t Width = -1;
  // Width x sample aspect / Height; 0 when the sample aspect or the height is unknown.
  float DisplayAspect = -1.0f;
  int32_t PixelFormat = -1;  // AVPixelFormat
  int32_t FrameRateNum = -1;
  int32_t FrameRateDen = -1;
};

class TAVProbe {
public:
  TAVProbe();
  ~TAVProbe();  // closes what the probe opened itself
  TAVProbe(const TAVProbe&) = delete;
  TAVProbe& operator=(const TAVProbe&) = delete;

  // Open does nothing until the probe is enabled.
  void Enable() { FEnabled = true; }

  // Loads avcodec, avformat, avutil and swscale (nothing when all four are loaded
  // already). On a failure LastError tells why and none of the four stays loaded.
  bool LoadLibraries(const std::string& AFolder, bool AVersioned);
  void UnloadLibraries();
  // Throws std::runtime_error naming the first of the four that is not loaded.
  static void CheckLibraries();

  // Opens a file (AFormatName forces a demuxer when not empty) and reads its stream
  // information. False with LastError on failure; the probe is empty then.
  bool Open(const std::string& AFileName, const std::string& AFormatName = std::string());
  // Reads an input opened elsewhere; its owner closes it, after closing or re-attaching
  // the probe.
  void Attach(AVFormatContext* AContext);
  // Forgets the input, and closes it when the probe opened it.
  void Close();
  void UpdateSummary();

  // One stream's parameters; AIndex -1 takes the first stream of the kind. Without a
  // fitting stream the defaults come back and the reason goes to the library log.
  TAudioStreamInfo AudioInfo(int32_t AIndex = -1) const;
  TVideoStreamInfo VideoInfo(int32_t AIndex = -1) const;
  // The input's file name as the library holds it; empty without an input.
  std::string LoadedFileName() const;

  AVFormatContext* Context() const { return FContext; }
  bool OwnsContext() const { return FOwned != nullptr; }
  bool Enabled() const { return FEnabled; }
  const std::string& LastError() const { return FLastError; }
  const std::string& FormatName() const { return FFormatName; }

  // The summary: -1 throughout while there is no input.
  int32_t StreamCount() const { return FStreamCount; }
  int32_t ProgramCount() const { return FProgramCount; }
  int32_t AudioCount() const { return FAudioCount; }
  int32_t VideoCount() const { return FVideoCount; }
  int32_t SubtitleCount() const { return FSubtitleCount; }
  int32_t FirstAudio() const { return FFirstAudio; }
  int32_t FirstVideo() const { return FFirstVideo; }
  int32_t FirstSubtitle() const { return FFirstSubtitle; }

private:
  // The stream AIndex (-1: AFirst) when it is of AType; null after logging why not.
  const AVStream* FindStream(int32_t AIndex, int32_t AFirst, AVMediaType AType, const char* AKind) const;

  AVFormatContext* FContext = nullptr;  // the input read, opened or attached
  TInputContextPtr FOwned;              // set only when the probe opened FContext
  bool FEnabled = false;
  std::string FLastError;
  std::string FFormatName;
  int32_t FStreamCount = -1;
  int32_t FProgramCount = -1;
  int32_t FAudioCount = -1;
  int32_t FVideoCount = -1;
  int32_t FSubtitleCount = -1;
  int32_t FFirstAudio = -1;
  int32_t FFirstVideo = -1;
  int32_t FFirstSubtitle = -1;
};
