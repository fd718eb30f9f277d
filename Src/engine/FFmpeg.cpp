// Engine life cycle: creation, reset, clean-up, the run entry and termination.
#include "FFmpeg.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "FFmpegRun.h"
#include "MyUtils.h"

void Fail(const std::string& AMessage) { throw FFMpegException(AMessage); }

void TFFmpegThread::Execute() {
  if (FEngine) FEngine->Execute();
}

void TDoTerminateThread::Execute() {
  if (FEngine) FEngine->DoTerminate();
}

TCustomFFmpeg::TCustomFFmpeg() { ResetOptions(); }

TCustomFFmpeg::~TCustomFFmpeg() { Destroy(-1); }

bool TCustomFFmpeg::Destroy(int64_t ATimeoutMs) {
  Stop();
  // Short steps: a worker usually ends within milliseconds of the stop, and a batch
  // frees its tasks right after their last termination.
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max<int64_t>(ATimeoutMs, 0));
  while (Thread.load() || FTerminateThread.load() || FRunControl->TerminatingElsewhere()) {
    if (ATimeoutMs >= 0 && std::chrono::steady_clock::now() >= Deadline) return false;
    Platform::SleepMs(2);
  }
  Cleanup();
  return true;
}

void TCustomFFmpeg::Init() {
  if (!AVLibsLoaded()) return;
  Cleanup();
  ResetOptions();
  Running = false;
  StopRequested = false;
  Finished = false;
  Terminated = false;
  TotalDuration = -1;

  for (int Type = 0; Type < CODEC_TYPE_COUNT; ++Type) {
    CodecOpts[Type].reset(av::avcodec_alloc_context3(nullptr));
    if (CodecOpts[Type]) CodecOpts[Type]->codec_type = static_cast<AVMediaType>(Type);
  }
  FormatOpts.reset(av::avformat_alloc_context());
  ScaleOpts.reset(av::sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                     SwsFlags, nullptr, nullptr, nullptr));
}

void TCustomFFmpeg::ResetOptions() {
  static_cast<TEngineOptions&>(*this) = TEngineOptions();
  InputFileCount = 0;
  OutputFileCount = 0;
  StreamMapCount = 0;
  MetaDataMapCount = 0;
  ExceptionRaised = false;
}

void TCustomFFmpeg::ReleaseOutputFiles() {
  for (int I = 0; I < OutputFileCount; ++I) {
    TFormatContextPtr& Output = OutputFiles[I];
    if (!Output) continue;
    if (Output->oformat && !(Output->oformat->flags & AVFMT_NOFILE)) av::avio_closep(&Output->pb);
    // A file that never received a byte is no output: do not leave it behind.
    const std::string FileName = Output->url ? Output->url : "";
    if (!FileName.empty() && FileSizeOf(FileName) == 0) std::remove(FileName.c_str());
    OutputCodecs[I].clear();
    OutputMuxing[I] = TOutputMuxing();
    Output.reset();  // frees the streams with the context
  }
  OutputFileCount = 0;
}

void TCustomFFmpeg::ReleaseInputFiles() {
  for (int I = 0; I < InputFileCount; ++I) {
    InputCodecs[I].clear();
    InputFiles[I].reset();
  }
  InputFileCount = 0;
}

void TCustomFFmpeg::Cleanup() {
  if (!AVLibsLoaded()) return;
  for (TCodecContextPtr& Holder : CodecOpts) Holder.reset();
  FormatOpts.reset();
  ScaleOpts.reset();

  ReleaseOutputFiles();
  ReleaseInputFiles();

  IntraMatrix.reset();
  InterMatrix.reset();
  VStatsFile.reset();
  VStatsFileName.clear();
  OptNames.clear();
  VideoCodecName.clear();
  AudioCodecName.clear();
  SubtitleCodecName.clear();
  VideoStandard.clear();
  VideoRcOverride.clear();
  AudioLanguage.clear();
  SubtitleLanguage.clear();

  ReleaseFrameHooks(FrameHookList);
  HookBitmap.reset();
  HookBuffer.clear();
  HookBuffer.shrink_to_fit();
  HookPicBuffer.clear();
  HookPicBuffer.shrink_to_fit();
  ToRgbContext.reset();
  FromRgbContext.reset();
}

void TCustomFFmpeg::Log(int ALevel, const std::string& AMessage) {
  if (OnLogHandler) OnLogHandler(this, ALevel, AMessage);
}

// A run that cannot start is reported like one that failed.
void TCustomFFmpeg::FailRun(const std::string& AMessage) {
  Log(-1, AMessage);
  ExceptionRaised = true;
  ExceptionMessage = AMessage;
  DoTerminate();
}

TFFmpegThread* TCustomFFmpeg::Run(bool AAsync, TConvertPriority APriority) {
  // A pending termination (Abort of an idle engine) counts as a run in progress.
  if (Running || Terminated || Thread.load() || FTerminateThread.load()) return nullptr;
  if (OutputFileCount <= 0) {
    Cleanup();
    FailRun("Must supply at least one output file");
    return nullptr;
  }
  if (InputFileCount == 0) {
    Cleanup();
    FailRun("Must supply at least one input file");
    return nullptr;
  }
  Running = true;
  StopRequested = false;
  Finished = false;
  Terminated = false;
  if (!AAsync) {
    Execute();
    return nullptr;
  }
  auto* Worker = new TFFmpegThread(this);
  Worker->SetPriority(APriority);
  Worker->FreeOnTerminate = true;
  Thread = Worker;
  return Worker;
}

void TCustomFFmpeg::Execute() {
  Finished = false;
  auto Finish = [this] {
    CloseOpenOutputCodecs();
    CloseOpenInputCodecs();
    Cleanup();
    DoTerminate();
  };
  try {
    Transcode();
  } catch (const std::exception& E) {
    Log(-1, E.what());
    ExceptionRaised = true;
    ExceptionMessage = E.what();
  } catch (...) {
    Finish();
    throw;
  }
  Finish();
}

void TCustomFFmpeg::DoTerminate() {
  // The handler may destroy the engine (the component frees tasks when a batch
  // ends), so nothing of the engine is touched after it returns; the control block
  // outlives the engine and tells Destroy on another thread to wait for the handler.
  std::shared_ptr<TRunControl> Control = FRunControl;
  Control->BeginTermination();
  Running = false;
  Terminated = true;
  {
    std::lock_guard<std::mutex> Guard(FThreadLock);
    Thread = nullptr;
  }
  FTerminateThread = nullptr;
  if (TTerminateHandler Handler = OnTerminateHandler) Handler(this);
  Control->EndTermination();
}

void TCustomFFmpeg::Stop() {
  StopRequested = true;
  std::lock_guard<std::mutex> Guard(FThreadLock);
  if (TFFmpegThread* Worker = Thread.load(); Worker && Worker->Suspended()) Worker->Resume();
}

void TCustomFFmpeg::Abort() {
  if (Running) {
    Stop();
    return;
  }
  if (Terminated || FTerminateThread.load()) return;
  auto* Terminator = new TDoTerminateThread(this);
  Terminator->SetPriority(TConvertPriority::tpIdle);
  Terminator->FreeOnTerminate = true;
  FTerminateThread = Terminator;
  Terminator->Resume();
}

std::string TCustomFFmpeg::FormatOpenError(const std::string& AFileName, int32_t AErrorCode) const {
  // This library generation reports an unrecognised format and a file that ends too
  // early with codes of its own; they mean what the table's codes meant.
  if (AErrorCode == AVERROR_INVALIDDATA || AErrorCode == AVERROR(EILSEQ)) AErrorCode = -42;
  if (AErrorCode == AVERROR_EOF) AErrorCode = -5;
  const char* Format;
  switch (AErrorCode) {
    case -2: Format = "%s: no such file or directory"; break;
    case -5:
      Format = "%s: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.";
      break;
    case -12: Format = "%s: memory allocation error occurred"; break;
    case -22: Format = "%s: Error while parsing header"; break;
    case -33:
      Format =
          "%s: Incorrect image filename syntax.\r\nUse '%%d' to specify the image number:\r\n"
          "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
          "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.";
      break;
    case -42: Format = "%s: Unknown format"; break;
    default: Format = "%s: Error while opening file"; break;
  }
  return FormatText(Format, AFileName.c_str());
}

bool TCustomFFmpeg::StoreInputFile(TInputContextPtr AContext) {
  if (InputFileCount >= MAX_FILES) {
    LastError = FormatText("Too many input files (at most %d)", MAX_FILES);
    return false;
  }
  InputFiles[InputFileCount++] = std::move(AContext);
  return true;
}

bool TCustomFFmpeg::StoreOutputFile(TFormatContextPtr AContext) {
  if (OutputFileCount >= MAX_FILES) {
    LastError = FormatText("Too many output files (at most %d)", MAX_FILES);
    return false;
  }
  OutputFiles[OutputFileCount++] = std::move(AContext);
  return true;
}

void TCustomFFmpeg::StoreStreamMap(const TStreamMap& AMap) {
  if (StreamMapCount >= MAX_STREAM_MAPS)
    throw FFMpegException(FormatText("Too many stream maps (at most %d)", MAX_STREAM_MAPS));
  StreamMaps[StreamMapCount++] = AMap;
}

void TCustomFFmpeg::StoreMetaDataMap(const TMetaDataMap& AMap) {
  if (MetaDataMapCount >= MAX_META_DATA_MAPS)
    throw FFMpegException(FormatText("Too many meta-data maps (at most %d)", MAX_META_DATA_MAPS));
  MetaDataMaps[MetaDataMapCount++] = AMap;
}

void TCustomFFmpeg::CloseOpenOutputCodecs() {
  for (AVCodecContext* Encoder : OutputStreamList) {
    av::av_freep(&Encoder->stats_in);
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    av::avcodec_close(Encoder);
  }
  OutputStreamList.clear();
}

void TCustomFFmpeg::CloseOpenInputCodecs() {
  for (AVCodecContext* Decoder : InputStreamList) {
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    av::avcodec_close(Decoder);
  }
  InputStreamList.clear();
}
