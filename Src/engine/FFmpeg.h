// The conversion engine: one object carries one conversion from its options to the
// finished output file. Every setting the command-line transcoder kept process-wide
// is a field here, so several engines can work side by side.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "AVHolders.h"
#include "FrameHook.h"
#include "HookBitmap.h"
#include "Platform.h"

// ---------------------------------------------------------------------------
// Process-wide state

// The engine's exception; its message is its only payload.
class FFMpegException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Raises FFMpegException with AMessage: how the engine reports a failure it cannot go on from.
[[noreturn]] void Fail(const std::string& AMessage);

// A check that the command-line transcoder made with an assertion (the codec tag
// setters); deliberately not an FFMpegException.
class TAssertionFailure : public std::logic_error {
public:
  using std::logic_error::logic_error;
};

// A value of a named option that is not a number of the kind the option takes.
class TConvertError : public std::invalid_argument {
public:
  using std::invalid_argument::invalid_argument;
};

// Held around every codec open and close and around reading a new input's stream
// information, which the libraries do not allow concurrently.
extern Platform::TReentrantLock CodecLock;
// The library log level last set, on the engine's scale: -1 quiet, 0 errors,
// 1 information, 2 debugging, 3 everything.
extern std::atomic<int> GlobalLogLevel;
// The engine's log scale and the library's (AV_LOG_*) in both directions.
int LibraryLogLevel(int AEngineLevel);
int EngineLogLevel(int ALibraryLevel);

// Loads and binds every codec library and the helper library; a failure unloads
// them all again. AFolder is the private library folder (empty: system search).
bool LoadAVLibs(const std::string& AFolder, bool AVersioned);
void UnloadAVLibs();
bool AVLibsLoaded();
std::string AVLibsError();

// ---------------------------------------------------------------------------
// Types

enum THookAction { haContinue = 0, haIgnore = 1, haStop = 2 };
using TConvertPriority = Platform::TThreadPriority;

constexpr int MAX_FILES = 20;
constexpr int MAX_STREAMS = 20;
constexpr int MAX_STREAM_MAPS = MAX_FILES * MAX_STREAMS;
constexpr int MAX_META_DATA_MAPS = 20;
constexpr int CODEC_TYPE_COUNT = 5;  // video, audio, data, subtitle, attachment
constexpr int64_t NoPtsValue = INT64_MIN;

struct TStreamMap {
  int32_t FileIndex = 0;
  int32_t StreamIndex = 0;
  int32_t SyncFileIndex = 0;
  int32_t SyncStreamIndex = 0;
};

struct TMetaDataMap {
  int32_t OutFile = 0;
  int32_t InFile = 0;
};

struct THookRange {
  int64_t Start = 0;
  int64_t End = 0;
};

// A bitstream filter chain, by filter names; the filter contexts are made once the
// stream's parameters are known.
using TBitstreamFilterChain = std::vector<std::string>;

// The engine's half of the library filter graph: the names it gives its two ends.
struct TFilterDef {
  std::string Name;        // "ffmpeg_input" / "ffmpeg_output"
  std::string LibraryName; // the library filter behind it
};

class TCustomFFmpeg;

// Run records of one transcode (FFmpegRun.h); the set-up fills them, the main loop
// uses them, and they are released when the transcode ends.
struct InputStream;
struct OutputStream;
struct TRunTables;
struct TVideoQuality;
struct TAudioBlock;
struct TPictureView;

// The engine's side of one output stream until the run opens it: its encoder
// context (or the stream-copy mark) and what the encoder gets when it is opened.
struct TOutputStreamCodec {
  TCodecContextPtr Codec;
  bool StreamCopy = false;
  float Quality = 0;  // the stream's fixed quality (lambda), 0 when none
  std::map<std::string, std::string> PrivateOptions;
};

// Muxing values of one output that this library generation takes as the muxer's own
// options or handles in the run.
struct TOutputMuxing {
  int64_t PreloadUs = 0;
  int32_t Loop = -1;
  std::map<std::string, std::string> PrivateOptions;
};

using TLogHandler = std::function<void(TCustomFFmpeg* Sender, int ALevel, const std::string& AMessage)>;
using TProgressHandler =
    std::function<void(TCustomFFmpeg* Sender, int AFrameNumber, int AFPS, int ACurrentDuration,
                       float AQuality, float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration)>;
using TTerminateHandler = std::function<void(TCustomFFmpeg* Sender)>;
using TBeforeHookHandler = std::function<void(TCustomFFmpeg* Sender, int64_t APTS, THookAction& AHookAction)>;
using TCustomHookHandler =
    std::function<void(TCustomFFmpeg* Sender, THookBitmap* ABitmap, int AFrameNumber, int64_t APTS,
                       bool& AUpdate, bool& AStopHook)>;

// Runs the engine's Execute: an asynchronous run.
class TFFmpegThread : public Platform::TThread {
public:
  explicit TFFmpegThread(TCustomFFmpeg* AEngine) : FEngine(AEngine) {}

protected:
  void Execute() override;

private:
  TCustomFFmpeg* FEngine;
};

// Delivers the termination of an engine that never ran, on a thread of its own
// like that of a real run.
class TDoTerminateThread : public Platform::TThread {
public:
  explicit TDoTerminateThread(TCustomFFmpeg* AEngine) : FEngine(AEngine) {}

protected:
  void Execute() override;

private:
  TCustomFFmpeg* FEngine;
};

// ---------------------------------------------------------------------------
// The engine

// Every option and per-run value that ResetOptions puts back to its default.
struct TEngineOptions {
  // ---- Maps and per-input values
  double InputTsScale[MAX_FILES][MAX_STREAMS]{};
  std::array<TStreamMap, MAX_STREAM_MAPS> StreamMaps{};
  std::array<TMetaDataMap, MAX_META_DATA_MAPS> MetaDataMaps{};
  const AVInputFormat* InputFormat = nullptr;
  const AVOutputFormat* OutputFormat = nullptr;

  // ---- Video options
  int32_t FrameWidth = 0;
  int32_t FrameHeight = 0;
  float FrameAspectRatio = 0;
  int32_t FramePixFmt = -1;
  int32_t PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
  std::array<int32_t, 3> PadColor{16, 128, 128};  // Y, U, V
  int32_t CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
  std::array<int32_t, 4> MaxFrames{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};  // video, audio, data, subtitle
  AVRational FrameRate{0, 0};
  float VideoQScale = 0;
  TAVMemPtr<uint16_t> IntraMatrix;
  TAVMemPtr<uint16_t> InterMatrix;
  std::string VideoRcOverride;
  int32_t VideoDisable = 0;
  int32_t VideoDiscard = 0;
  std::string VideoCodecName;
  uint32_t VideoCodecTag = 0;
  int32_t SameQuality = 0;
  int32_t DoDeinterlace = 0;
  int32_t TopFieldFirst = -1;
  int32_t MeThreshold = 0;
  int32_t IntraDcPrecision = 8;
  int32_t LoopInput = 0;
  int32_t LoopOutput = -1;
  int32_t QpHist = 0;
  std::string VideoFilters;
  int32_t IntraOnly = 0;
  int32_t VideoChannel = 0;
  std::string VideoStandard;
  int32_t VideoGlobalHeader = 0;
  int32_t VideoSyncMethod = -1;

  // ---- Audio and subtitle options
  int32_t AudioSampleRate = 44100;
  float AudioQScale = -99999.0f;
  int32_t AudioDisable = 0;
  int32_t AudioChannels = 2;
  std::string AudioCodecName;
  uint32_t AudioCodecTag = 0;
  std::string AudioLanguage;
  int32_t AudioSampleFmt = -1;
  int32_t AudioVolume = 256;
  int32_t AudioSyncMethod = 0;
  float AudioDriftThreshold = 0.1f;
  int32_t SubtitleDisable = 0;
  std::string SubtitleCodecName;
  std::string SubtitleLanguage;
  int32_t AudioStreamCopy = 0, VideoStreamCopy = 0, SubtitleStreamCopy = 0;

  // ---- Timing and muxing
  int64_t RecordingTime = INT64_MAX;
  int32_t TotalDuration = -1;  // milliseconds
  int64_t StartTime = 0;
  int64_t RecTimestamp = 0;  // seconds
  int64_t InputTsOffset = 0;
  float MuxPreload = 0.5f;
  float MuxMaxDelay = 0.7f;
  bool CopyTs = false;
  int32_t Shortest = 0;
  float DtsDeltaThreshold = 10.0f;
  int64_t LimitFileSize = 0;
  int32_t InputSync = 0;
  int32_t RateEmu = 0;
  int32_t ProgramId = 0;
  int32_t ThreadCount = 1;

  // ---- Meta-data of the next output
  std::string Title, Author, Copyright, Comment, Genre, Album;
  int32_t Year = 0;
  int32_t Track = 0;

  // ---- Diagnostics and two-pass
  int32_t Verbose = 1;
  int32_t DoBenchmark = 0;
  int32_t DoHexDump = 0, DoPktDump = 0, DoPsnr = 0;
  int32_t DoPass = 0;
  std::string PassLogFilePrefix;
  std::string VStatsFileName;
  TMyFilePtr VStatsFile;
  bool ExitOnError = false;
  int32_t PgmyuvCompat = 0;
  bool UsingVHook = false;

  int32_t SwsFlags = 4;  // bicubic
  std::vector<std::string> OptNames;  // generic options set, in order
  // Generic options that this library generation keeps in an encoder's or a muxer's
  // own options: handed to the encoder when it is opened and to the muxer with the
  // header. Names and values as the libraries take them.
  std::map<std::string, std::string> CodecPrivateOptions;
  std::map<std::string, std::string> FormatPrivateOptions;

  // ---- Transcode state
  int64_t VideoSize = 0, AudioSize = 0, ExtraSize = 0;
  int32_t FramesDup = 0, FramesDrop = 0;
  int64_t TimerStart = 0;
  TBitstreamFilterChain VideoBsfChain, AudioBsfChain, SubtitleBsfChain;
  TBitstreamFilterChain BitstreamFilters[MAX_FILES][MAX_STREAMS];
  bool FiltersActive = false;
  TFilterDef InputFilterDef{"ffmpeg_input", "buffer"};
  TFilterDef OutputFilterDef{"ffmpeg_output", "buffersink"};

  // ---- Frame hooks
  THookBitmapPixelFormat HookBitmapPixelFormat = THookBitmapPixelFormat::pf24bit;
  int32_t HookBufferSize = 0;
  std::vector<uint8_t> HookPicBuffer;
  int32_t HookPicBufferSize = 0;
  int32_t HookPixFmt = AV_PIX_FMT_BGR24;
  int32_t HookFrameNumber = 0;
  THookAction HookAction = haContinue;
  std::vector<THookRange> HookRanges;
  int32_t HookRangeIndex = 0;
  int32_t HookRangeCount = 0;
};

class TCustomFFmpeg : public TEngineOptions {
public:
  TCustomFFmpeg();  // defaults; does not touch the libraries
  // Destroys after the run has ended. A subclass whose run uses members of its own
  // calls Destroy in its own destructor, before those members go.
  virtual ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // Stops a run and waits for its worker to end, in short steps, for at most
  // ATimeoutMs (negative: as long as it takes), then releases everything. Returns
  // false, releasing nothing, when the worker is still busy after the wait: its
  // state must stay valid, so the caller keeps the object alive.
  bool Destroy(int64_t ATimeoutMs = -1);
  void Init();
  void ResetOptions();
  void Cleanup();

  // Starts the transcode. Synchronous: runs it on the calling thread and returns
  // null. Asynchronous: returns the suspended worker, which frees itself when it
  // ends; the caller resumes it. Null also when nothing was started.
  TFFmpegThread* Run(bool AAsync = false, TConvertPriority APriority = TConvertPriority::tpNormal);
  void Execute();
  void Stop();
  void Abort();
  void DoTerminate();
  std::string FormatOpenError(const std::string& AFileName, int32_t AErrorCode) const;

  // Table guards: a new entry past the table's limit is refused. Files give false
  // with LastError set; maps come from option setters and raise FFMpegException.
  bool StoreInputFile(TInputContextPtr AContext);
  bool StoreOutputFile(TFormatContextPtr AContext);
  void StoreStreamMap(const TStreamMap& AMap);
  void StoreMetaDataMap(const TMetaDataMap& AMap);

  // Codecs still open after a run: closed by Execute whatever way the run ended.
  void CloseOpenOutputCodecs();
  void CloseOpenInputCodecs();

  int32_t OptNameCount() const { return static_cast<int32_t>(OptNames.size()); }

  // ---- Inputs and outputs. False with the reason in LastError on failure.
  bool AddInputFile(const std::string& AFileName);
  bool AddOutputFile(const std::string& AFileName);
  // Which stream types the opened inputs have.
  void CheckInputStreamTypes(bool& AHasVideo, bool& AHasAudio, bool& AHasSubtitle);
  // Add one stream to output AFileIndex (its context AOutput); raise FFMpegException.
  void NewVideoStream(int AFileIndex, AVFormatContext* AOutput);
  void NewAudioStream(int AFileIndex, AVFormatContext* AOutput);
  void NewSubtitleStream(int AFileIndex, AVFormatContext* AOutput);
  int32_t ReadFfmStreams(AVFormatContext* AOutput, const std::string& AFileName);

  // ---- Option setters. Invalid values raise FFMpegException unless noted.
  // Formats and generic options
  void SetInputFormat(const std::string& AName);
  void SetOutputFormat(const std::string& AName);
  void SetFormat(const std::string& AName);
  // Sets an option of the codec, format or scaler libraries; false (and nothing
  // recorded) when no holder knows the name.
  bool SetGenericOption(const std::string& AName, const std::string& AValue);
  void SetOption(const std::string& AName, const std::string& AValue);
  bool SetOptionInt(const std::string& AName, int32_t AValue);
  bool SetBitrate(const std::string& AName, const std::string& AValue);
  void SetVerbose(int32_t ALevel);
  // Video geometry
  void SetFrameSize(const std::string& AText);
  void SetFrameRate(const std::string& AText);
  void SetAspectRatio(const std::string& AText);
  void SetCropTop(int32_t AValue);
  void SetCropBottom(int32_t AValue);
  void SetCropLeft(int32_t AValue);
  void SetCropRight(int32_t AValue);
  void SetPadTop(int32_t AValue);
  void SetPadBottom(int32_t AValue);
  void SetPadLeft(int32_t AValue);
  void SetPadRight(int32_t AValue);
  void SetPadColor(uint32_t AColor);  // red in the low byte
  void SetPixelFormat(const std::string& AName);
  // Video coding
  void SetVideoCodec(const std::string& AName);
  void SetVideoTag(const std::string& AText);  // TAssertionFailure unless 4 characters
  void SetVideoQScale(float AValue);
  void SetIntraMatrix(const std::string& AText);
  void SetInterMatrix(const std::string& AText);
  void SetRcOverride(const std::string& AText);
  void SetMeThreshold(int32_t AValue);
  void SetTopFieldFirst(int32_t AValue);
  void SetVideoChannel(int32_t AValue);
  void SetVideoStandard(const std::string& AText);
  void SetVideoFilters(const std::string& AText);
  void SetVideoSyncMethod(int32_t AValue);
  void SetPass(int32_t AValue);
  void SetVStatsFile(const std::string& AFileName);
  void SetVStats(bool AEnable);
  void AddVideoHook(const std::string& AText);
  // Pictures whose time lies in one of the ranges go to the frame hook modules. Takes
  // a copy, sorted by end, and starts the next scan at the first range.
  void SetHookRanges(const std::vector<THookRange>& ARanges);
  // Audio and subtitles
  void SetAudioCodec(const std::string& AName);
  void SetSubtitleCodec(const std::string& AName);
  void SetAudioTag(const std::string& AText);  // TAssertionFailure unless 4 characters
  void SetAudioSampleRate(int32_t AValue);
  void SetAudioChannels(int32_t AValue);
  void SetSampleFormat(const std::string& AName);
  void SetVolume(int32_t AValue);
  void SetAudioSyncMethod(int32_t AValue);
  // Timing, maps and muxing
  void SetRecordingTime(const std::string& AText);
  void SetRecordingTimeMs(int32_t AMilliseconds);
  void SetStartTimeSpec(const std::string& AText);
  void SetStartTime(int64_t AMicroseconds);
  void SetInputTsOffset(const std::string& AText);
  void SetRecTimestamp(const std::string& AText);
  void SetInputTsScale(const std::string& AText);
  void AddStreamMap(const std::string& AText);
  void AddMetaDataMap(const std::string& AText);
  void SetMuxMaxDelay(float AValue);
  void SetMuxPreload(float AValue);
  void AddBitstreamFilter(const std::string& AOptionName, const std::string& AValue);
  void SetProgramId(int32_t AValue);
  // Meta-data of the next output
  void SetTitle(const std::string& AText);
  void SetAuthor(const std::string& AText);
  void SetCopyright(const std::string& AText);
  void SetComment(const std::string& AText);
  void SetGenre(const std::string& AText);
  void SetAlbum(const std::string& AText);
  void SetYear(int32_t AValue);
  void SetTrack(int32_t AValue);
  // "newvideo", "newaudio", "newsubtitle": a stream of that type for the last output.
  void AddStreamToLastOutput(AVMediaType AType);

  // ---- Target presets ("vcd", "svcd", "dvd", "dv", "dv50")
  void SetTarget(const std::string& AKind, const std::string& ANorm, const std::string& AFallbackNorm);
  void SetTargetSpec(const std::string& AText);

  // ---- The transcoder's option vocabulary by name (without the leading "-")
  void SetOptionByName(const std::string& AName, const std::string& AValue);

  // ---- Look-ups used when files are opened
  bool FindCodec(const std::string& AName, int32_t AType, int32_t& AId, bool AEncoder);
  // Copies every recorded generic option from ASource to ATarget when the option's
  // flags hold all bits of AFlags.
  void ApplyGenericOptions(void* ATarget, void* ASource, int32_t AFlags);
  int64_t ParseTime(const std::string& AOptionName, const std::string& AText, bool AIsDuration);
  // Program folder + "vstats_" + the local time as hhnnss + ".log".
  static std::string VStatsFileNameFor(const std::tm& ALocalTime);
  void ParseMatrix(uint16_t* ABlock, const std::string& AText);

  // Reports through OnLogHandler when it is assigned.
  void Log(int ALevel, const std::string& AMessage);

  // ---- Files and maps
  std::array<TInputContextPtr, MAX_FILES> InputFiles;
  std::array<int64_t, MAX_FILES> InputTsOffsets{};
  // Per input: where a start-position seek was to land, on the timeline after the
  // offset (µs), or NoPtsValue. A seek lands on an earlier key point; the audio path
  // drops what comes before this.
  std::array<int64_t, MAX_FILES> InputSeekTargets = [] {
    std::array<int64_t, MAX_FILES> Targets;
    Targets.fill(NoPtsValue);
    return Targets;
  }();
  int32_t InputFileCount = 0;
  std::array<TFormatContextPtr, MAX_FILES> OutputFiles;
  int32_t OutputFileCount = 0;
  int32_t StreamMapCount = 0;
  int32_t MetaDataMapCount = 0;

  // Per input: one decoder context per stream, the loop count and rate emulation.
  std::array<std::vector<TCodecContextPtr>, MAX_FILES> InputCodecs;
  std::array<int32_t, MAX_FILES> InputLoops{};
  std::array<int32_t, MAX_FILES> InputRateEmu{};
  // Per output: one entry per stream, and its muxing values.
  std::array<std::vector<TOutputStreamCodec>, MAX_FILES> OutputCodecs;
  std::array<TOutputMuxing, MAX_FILES> OutputMuxing;

  // ---- Generic option holders, made by Init
  std::array<TCodecContextPtr, CODEC_TYPE_COUNT> CodecOpts;
  TFormatContextPtr FormatOpts;
  TSwsContextPtr ScaleOpts;

  // ---- Frame hooks: the modules, and work objects kept from first use until Cleanup
  TFrameHookList FrameHookList;
  std::unique_ptr<THookBitmap> HookBitmap;
  std::vector<uint8_t> HookBuffer;
  TSwsContextPtr ToRgbContext, FromRgbContext;

  // Open-codec registries: encoders and decoders open, newest first. They hold the
  // contexts themselves (owned by OutputCodecs and InputCodecs until Cleanup), so
  // closing what a failed run left open never reads a released run record.
  std::list<AVCodecContext*> OutputStreamList;
  std::list<AVCodecContext*> InputStreamList;

  // ---- Run state and handlers
  std::atomic<TFFmpegThread*> Thread{nullptr};
  std::atomic<bool> Running{false};
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> Finished{false};
  std::atomic<bool> Terminated{false};
  bool ExceptionRaised = false;
  std::string ExceptionMessage;
  std::string LastError;
  TBeforeHookHandler OnBeforeHookHandler;
  TCustomHookHandler OnCustomHookHandler;
  TLogHandler OnLogHandler;
  TProgressHandler OnProgressHandler;
  TTerminateHandler OnTerminateHandler;
  int64_t ProgressIntervalUs = 500000;

  // The statistics of the run's reports.
  std::array<int32_t, 52> QpHistogram{};

protected:
  // The conversion proper: set-up, main loop and finish.
  virtual void Transcode();

  // The stages of a transcode (FFmpegTranscode.cpp, FFmpegPacket.cpp, FFmpegAudio.cpp,
  // FFmpegReport.cpp).
  void SetUpRun();
  void SetUpOutputStream(OutputStream& AOst, int AOrdinal);
  void OpenCodecsAndHeaders();
  void RunMainLoop();
  void FinishRun();
  void ReleaseRunTables();
  void CorrectTimestamps(InputStream& AIst, AVPacket* APacket);
  int OutputPacket(InputStream& AIst, int AIstIndex, const AVPacket* APacket);
  void DispatchAudio(InputStream& AIst, int AIstIndex, AVFrame* AFrame);
  void CopyPacket(InputStream& AIst, OutputStream& AOst, const AVPacket* APacket);
  void FlushEncoders(int AIstIndex);
  void EncodeAudioFrame(OutputStream& AOst, AVFrame* AFrame);
  void DrainEncoder(OutputStream& AOst, bool AEndOfInput);
  void WriteFrame(AVFormatContext* AOutput, AVPacket* APacket, AVCodecContext* ACodec, OutputStream& AOst);
  void DoAudioOut(AVFormatContext* AOutput, OutputStream& AOst, InputStream& AIst, AVFrame* AFrame);
  // Samples at the front of a block that lie before the input's start position.
  int LeadInSamples(const InputStream& AIst, int ARate, int ASamples) const;
  void PrintReport(bool AIsLast);

  // The video and subtitle stages (FFmpegTranscode.cpp, FFmpegPacket.cpp, FFmpegVideo.cpp,
  // FFmpegReport.cpp).
  void SetUpVideoEncoding(OutputStream& AOst, InputStream& AIst);
  void SetUpSubtitleEncoding(OutputStream& AOst, InputStream& AIst);
  // Frame hooks (FFmpegHooks.cpp): counts the picture, makes the engine's private copy
  // (deinterlaced when asked) and hands it to the host's custom hook or to the frame
  // hook modules; APicture then points at the copy.
  void PreProcessVideoFrame(InputStream& AIst, AVFrame*& APicture);
  void DecideModuleHooking(int64_t AHookPts);
  AVFrame* MakePrivateCopy(InputStream& AIst, const AVFrame* APicture);
  void RunCustomHook(AVFrame* AWork, int64_t AHookPts);
  bool CallCustomHook(int64_t AHookPts, bool& AUpdate, bool& AStop);
  // The video filter graph (FFmpegFilters.cpp): source, crop and scale where the
  // geometry needs them, the user's chain, and a sink in the encoder's pixel format.
  // 0 on success; -1 with an explanation in LastError, or none.
  int ConfigureFilters(InputStream& AIst, OutputStream& AOst);
  // Hands APicture to the stream's graph, at the input stream's time. False when the
  // graph refuses it.
  bool FeedFilters(OutputStream& AOst, const InputStream& AIst, AVFrame* APicture);
  // APicture, or a copy scaled to the geometry the graph's source was set up for; null
  // when the copy cannot be made.
  AVFrame* FitFilterInput(OutputStream& AOst, AVFrame* APicture);
  // Tells the stream's graph that no more pictures come, so it gives what it holds.
  void CloseFilters(OutputStream& AOst);
  // 1 with the next filtered picture in APicture and its time (µs) in APts; -1 when the
  // graph has none ready.
  int GetFilteredVideoPic(AVFilterContext* ASink, AVFrame* APicture, int64_t& APts);
  int DecodeVideo(InputStream& AIst, int AIstIndex, const AVPacket* APacket);
  int DecodeSubtitle(InputStream& AIst, int AIstIndex, const AVPacket* APacket);
  void DoVideoOut(AVFormatContext* AOutput, OutputStream& AOst, InputStream& AIst, AVFrame* APicture);
  void DoSubtitleOut(AVFormatContext* AOutput, OutputStream& AOst, InputStream& AIst, AVSubtitle* ASubtitle,
                     int64_t APts);
  // Every packet a video encoder has ready (at the end of input: all it holds), each
  // with its sizes, statistics, two-pass log line and the writer.
  void DrainVideoEncoder(OutputStream& AOst, bool AEndOfInput);
  void WriteVideoPacket(OutputStream& AOst, AVPacket* APacket);
  void DoVideoStats(OutputStream& AOst, int32_t AFrameSize);
  std::string QpHistogramText(int ALambda);
  static std::string PsnrText(const AVCodecContext& AEncoder, const TVideoQuality& AQuality, int32_t AFrames,
                              bool AIsLast);

  std::unique_ptr<TRunTables> RunTables;

private:
  friend class TDoTerminateThread;
  void FailRun(const std::string& AMessage);
  void SetCodecName(const std::string& AName, std::string& ACodecName, int32_t& AStreamCopy);
  void SetCrop(int32_t AValue, int32_t& ACrop, int32_t& AFrameExtent, const char* AOddMessage,
               const char* ARangeMessage);
  void SetPad(int32_t AValue, int32_t& APad, const char* AOddMessage);
  void LogFormatList(const std::vector<std::string>& ALines);
  bool SetMovedFlags(const std::string& AName, std::string& AValue);
  bool SetPrivateOption(const std::string& AName, const std::string& AValue);
  void ReleaseOutputFiles();
  void ReleaseInputFiles();
  void ResetPerInputOptions();

  // The steps of AddInputFile (FFmpegInput.cpp); false with LastError set on failure.
  bool OpenInput(const std::string& AFileName, TDictionary& AOpenOptions, TInputContextPtr& AInput);
  void DiscardOtherPrograms(AVFormatContext* AInput);
  bool FindStreamInfo(const std::string& AFileName, AVFormatContext* AInput);
  int64_t StartTimestamp(const AVFormatContext* AInput) const;
  bool SeekToStart(AVFormatContext* AInput, int64_t ATimestamp);
  bool MakeDecoders(const std::string& AFileName, AVFormatContext* AInput, std::vector<TCodecContextPtr>& ADecoders);
  // The next outputs' defaults from the input's streams, and which streams are read.
  void TakeStreamDefaults(const std::string& AFileName, AVStream* AStream, AVCodecContext* ADecoder);
  void TakeVideoStreamDefaults(const std::string& AFileName, AVStream* AStream, AVCodecContext* ADecoder);
  void TakeAudioStreamDefaults(AVStream* AStream, AVCodecContext* ADecoder);
  void ListInputFile(const std::string& AFileName, TInputContextPtr AInput, std::vector<TCodecContextPtr> ADecoders,
                     int64_t ATimestamp, bool ASeeked);
  AVStream* NewOutputStream(int AFileIndex, AVFormatContext* AOutput, AVMediaType AType, TBitstreamFilterChain& AChain);
  const AVCodec* NewStreamEncoder(AVFormatContext* AOutput, AVMediaType AType, const std::string& ACodecName,
                                  bool AStreamCopy, bool AGuessCodec, TOutputStreamCodec& AEntry);
  void ReleaseUnlistedOutput(int AFileIndex);
  bool FailOutput(const std::string& AMessage);

  // The steps of AddOutputFile (FFmpegOutput.cpp); false with LastError set on failure.
  bool CheckNewOutput(const std::string& AFileName);
  bool CreateOutputContext(const std::string& AFileName, TFormatContextPtr& AOutput);
  bool WantedStreamTypes(bool& AVideo, bool& AAudio, bool& ASubtitle);
  bool AddWantedStreams(int AFileIndex, AVFormatContext* AOutput);
  void SetOutputMetaData(AVFormatContext* AOutput);
  bool OpenOutputFile(const std::string& AFileName, AVFormatContext* AListed);
  bool UnlistLastOutput(const std::string& AMessage);
  void SetOutputMuxing(int AFileIndex, AVFormatContext* AOutput);

  // The steps of the set-up (FFmpegTranscode.cpp). A source is an index into the input
  // stream table.
  void AllocateRunPackets();
  void BuildInputStreamTable();
  int CountOutputStreams();
  void CheckStreamMaps(int AOutputStreamCount);
  void MapOutputStreams();
  int MappedSource(OutputStream& AOst, const TStreamMap& AMap);
  int ChosenSource(OutputStream& AOst);
  int ProgramSource(AVMediaType AType) const;
  int FreeSourceOfProgram(int AFileIndex, const AVProgram& AProgram, AVMediaType AType) const;
  int FreeSource(AVMediaType AType) const;
  [[noreturn]] void FailMapping(const OutputStream& AOst, const std::string& AMessage);
  void LogStreamMapping();

  // The steps of the audio path (FFmpegAudio.cpp). Those giving a bool give false when
  // the block ends there.
  bool NeedsAudioConversion(OutputStream& AOst, const TAudioBlock& ABlock);
  void PrepareResampler(OutputStream& AOst, const TAudioBlock& ABlock);
  bool SkipLeadIn(const OutputStream& AOst, const InputStream& AIst, TAudioBlock& ABlock) const;
  bool CutAtRecordingTime(TAudioBlock& ABlock) const;
  bool SyncAudio(OutputStream& AOst, InputStream& AIst, TAudioBlock& ABlock);
  bool DropAudioSamples(InputStream& AIst, TAudioBlock& ABlock, int64_t ASamples, double ADelta);
  void PadAudioWithSilence(OutputStream& AOst, InputStream& AIst, const TAudioBlock& ABlock, int64_t ASamples,
                           double ADelta);
  void QueueSilence(OutputStream& AOst, int ASamples);
  void CompensateAudioDrift(OutputStream& AOst, double ADelta);
  bool QueueAudioBlock(OutputStream& AOst, const TAudioBlock& ABlock, bool AConvert);
  void EncodeQueuedAudio(OutputStream& AOst);
  // ASamples samples from the FIFO as one encoder frame at the stream's sample count;
  // AAllocFailure is the message when the frame gets no buffer.
  void EncodeFifoSamples(OutputStream& AOst, int ASamples, const char* AAllocFailure);
  // At the end of input, what is left in the FIFO, for an encoder that takes a short
  // last frame.
  void FlushAudioFifo(OutputStream& AOst);

  // The steps of the video path (FFmpegVideo.cpp). Those giving a bool give false when
  // the picture is left out.
  void PassThroughFilters(AVFormatContext* AOutput, OutputStream& AOst, InputStream& AIst, AVFrame* APicture);
  int SyncedFrameCount(OutputStream& AOst);
  bool CropPicture(const OutputStream& AOst, const AVFrame* APicture, TPictureView& AFormatted);
  bool FitPicture(OutputStream& AOst, const AVFrame* APicture, const TPictureView& AFormatted, AVFrame* AWork);
  // The encoder's picture within its padding.
  static int InnerWidth(const OutputStream& AOst);
  static int InnerHeight(const OutputStream& AOst);
  void MakeTempPictureWritable(OutputStream& AOst);
  bool DrawTempPicture(OutputStream& AOst, const TPictureView& AFormatted, bool AScale);
  void SetEncoderPictureProps(const OutputStream& AOst, const InputStream& AIst, const AVFrame* APicture,
                              AVFrame* AWork);
  void EncodePicture(OutputStream& AOst, AVFrame* AWork, int ANbFrames);
  // A picture or subtitle that cannot be made: fails the run on ExitOnError, else it
  // is logged and left out.
  void SkipOutput(const char* AMessage);

  // Guards Thread against a worker that clears it and frees itself meanwhile.
  std::mutex FThreadLock;
  // A termination thread of Abort is on its way (Thread holds no TFFmpegThread then).
  std::atomic<Platform::TThread*> FTerminateThread{nullptr};

  // Which thread, if any, is delivering the termination right now.
  class TRunControl {
  public:
    void BeginTermination() {
      FThreadID = Platform::CurrentThreadID();
      FActive = true;
    }
    void EndTermination() { FActive = false; }
    // True while another thread than the caller is inside the termination handler.
    bool TerminatingElsewhere() const { return FActive && FThreadID != Platform::CurrentThreadID(); }

  private:
    std::atomic<bool> FActive{false};
    std::atomic<pid_t> FThreadID{0};
  };
  std::shared_ptr<TRunControl> FRunControl = std::make_shared<TRunControl>();
};
