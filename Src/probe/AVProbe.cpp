#include "AVProbe.h"

#include <climits>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace {

// The probe logs through the library without a context object, so its lines reach
// the hosts through the same log callback as the libraries' own.
template <class... TArgs>
void LibraryLog(int AEngineLevel, const char* AFormat, TArgs... AArgs) {
  // A query on a probe without libraries says nothing rather than calling nowhere.
  if (!AVUtilLibLoaded()) return;
  av::av_log(nullptr, LibraryLogLevel(AEngineLevel), AFormat, AArgs...);
}

int64_t Microseconds(int64_t AValue, AVRational ATimeBase) {
  if (AValue == AV_NOPTS_VALUE) return -1;
  return av::av_rescale_q(AValue, ATimeBase, AVRational{1, 1000000});
}

int32_t ClampToInt32(int64_t AValue) {
  if (AValue > INT32_MAX) return INT32_MAX;
  if (AValue < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(AValue);
}

// The fields both records share, in their order.
template <class TInfo>
void FillCommon(TInfo& AInfo, const AVStream* AStream) {
  if (const AVDictionaryEntry* Language = av::av_dict_get(AStream->metadata, "language", nullptr, 0))
    AInfo.Language = Language->value;
  AInfo.CodecName = av::avcodec_get_name(AStream->codecpar->codec_id);
  AInfo.StartTime = AStream->start_time;
  AInfo.StartTimeUs = Microseconds(AStream->start_time, AStream->time_base);
  AInfo.Duration = AStream->duration;
  AInfo.DurationUs = Microseconds(AStream->duration, AStream->time_base);
  AInfo.BitRate = ClampToInt32(AStream->codecpar->bit_rate);
}

// The engine's table of open failures, so that the probe and the engine read alike.
std::string OpenErrorText(const std::string& AFileName, int AErrorCode) {
  return std::make_unique<TCustomFFmpeg>()->FormatOpenError(AFileName, AErrorCode);
}

bool ValidRate(AVRational ARate) { return ARate.num > 0 && ARate.den > 0; }

}  // namespace

TAVProbe::TAVProbe() = default;

TAVProbe::~TAVProbe() { Close(); }

bool TAVProbe::LoadLibraries(const std::string& AFolder, bool AVersioned) {
  if (AVCodecLibLoaded() && AVFormatLibLoaded() && AVUtilLibLoaded() && SwScaleLibLoaded()) return true;
  std::string Error;
  const bool Ok = LoadAVCodecLib(Error, AFolder, AVersioned, true) &&
                  LoadAVFormatLib(Error, AFolder, AVersioned, true) &&
                  LoadAVUtilLib(Error, AFolder, AVersioned) && LoadSwScaleLib(Error, AFolder, AVersioned);
  if (Ok) return true;
  FLastError = Error;
  UnloadLibraries();
  return false;
}

void TAVProbe::UnloadLibraries() {
  // The probe's own input can only be freed while its library is there.
  Close();
  UnloadAVCodecLib();
  UnloadAVFormatLib();
  UnloadAVUtilLib();
  UnloadSwScaleLib();
}

void TAVProbe::CheckLibraries() {
  if (!AVCodecLibLoaded()) throw std::runtime_error("LibAVCodec not loaded.");
  if (!AVFormatLibLoaded()) throw std::runtime_error("LibAVFormat not loaded.");
  if (!AVUtilLibLoaded()) throw std::runtime_error("LibAVUtil not loaded.");
  if (!SwScaleLibLoaded()) throw std::runtime_error("LibSwScale not loaded.");
}

bool TAVProbe::Open(const std::string& AFileName, const std::string& AFormatName) {
  CheckLibraries();
  Close();
  if (!FEnabled) return false;

  const AVInputFormat* Format = nullptr;
  if (!AFormatName.empty()) {
    Format = av::av_find_input_format(AFormatName.c_str());
    if (!Format) {
      FLastError = "Unknown input format: " + AFormatName;
      return false;
    }
  }

  AVFormatContext* Raw = av::avformat_alloc_context();
  if (!Raw) {
    FLastError = OpenErrorText(AFileName, AVERROR(ENOMEM));
    return false;
  }
  // On failure the library frees the context itself and clears Raw.
  const int Err = av::avformat_open_input(&Raw, AFileName.c_str(), Format, nullptr);
  if (Err < 0) {
    FLastError = OpenErrorText(AFileName, Err);
    Close();
    return false;
  }
  FOwned.reset(Raw);
  FContext = Raw;

  int Ret;
  {
    // The engine reads stream information under the same lock; the probe may run on
    // the main thread while conversions run on workers.
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    Ret = av::avformat_find_stream_info(FContext, nullptr);
  }
  if (Ret < 0) {
    FLastError = AFileName + ": could not find codec parameters";
    Close();
    return false;
  }
  UpdateSummary();
  FFormatName = AFormatName;
  return true;
}

void TAVProbe::Attach(AVFormatContext* AContext) {
  CheckLibraries();
  // Re-attaching what the probe holds already must not close it under itself.
  if (AContext && AContext == FContext) {
    UpdateSummary();
    return;
  }
  Close();
  FContext = AContext;
  UpdateSummary();
}

void TAVProbe::Close() {
  FFormatName.clear();
  if (FOwned && !AVFormatLibLoaded()) {
    // The library that could free it is gone: forgetting it is all that is left.
    (void)FOwned.release();
  }
  FOwned.reset();
  FContext = nullptr;
  UpdateSummary();
}

void TAVProbe::UpdateSummary() {
  FStreamCount = FProgramCount = -1;
  FAudioCount = FVideoCount = FSubtitleCount = -1;
  FFirstAudio = FFirstVideo = FFirstSubtitle = -1;
  if (!FContext) return;
  FStreamCount = static_cast<int32_t>(FContext->nb_streams);
  FProgramCount = static_cast<int32_t>(FContext->nb_programs);
  FAudioCount = FVideoCount = FSubtitleCount = 0;
  for (int32_t I = 0; I < FStreamCount; ++I) {
    switch (FContext->streams[I]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        ++FVideoCount;
        if (FFirstVideo < 0) FFirstVideo = I;
        break;
      case AVMEDIA_TYPE_AUDIO:
        ++FAudioCount;
        if (FFirstAudio < 0) FFirstAudio = I;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        ++FSubtitleCount;
        if (FFirstSubtitle < 0) FFirstSubtitle = I;
        break;
      default:
        break;  // data and attachments count in StreamCount only
    }
  }
}

const AVStream* TAVProbe::FindStream(int32_t AIndex, int32_t AFirst, AVMediaType AType, const char* AKind) const {
  if (!FContext) {
    LibraryLog(1, "file not loaded.\n");
    return nullptr;
  }
  if (AIndex < 0) {
    AIndex = AFirst;
    if (AIndex < 0) {
      LibraryLog(0, "no %s stream.\n", AKind);
      return nullptr;
    }
  } else if (AIndex >= static_cast<int32_t>(FContext->nb_streams)) {
    LibraryLog(0, "stream index #%d is invalid.\n", AIndex);
    return nullptr;
  }
  const AVStream* Stream = FContext->streams[AIndex];
  if (Stream->codecpar->codec_type != AType) {
    LibraryLog(0, "stream #%d is not %s stream.\n", AIndex, AKind);
    return nullptr;
  }
  return Stream;
}

TAudioStreamInfo TAVProbe::AudioInfo(int32_t AIndex) const {
  TAudioStreamInfo Info;
  const AVStream* Stream = FindStream(AIndex, FFirstAudio, AVMEDIA_TYPE_AUDIO, "audio");
  if (!Stream) return Info;
  FillCommon(Info, Stream);
  const AVCodecParameters* Par = Stream->codecpar;
  Info.Channels = Par->ch_layout.nb_channels;
  Info.SampleRate = Par->sample_rate;
  Info.SampleFormat = Par->format;
  return Info;
}

TVideoStreamInfo TAVProbe::VideoInfo(int32_t AIndex) const {
  TVideoStreamInfo Info;
  const AVStream* Stream = FindStream(AIndex, FFirstVideo, AVMEDIA_TYPE_VIDEO, "video");
  if (!Stream) return Info;
  FillCommon(Info, Stream);
  const AVCodecParameters* Par = Stream->codecpar;
  Info.Height = Par->height;
  Info.Width = Par->width;
  // A zero denominator or height would divide by zero; 0 says "unknown", as an
  // unknown sample aspect (0:1) gives anyway.
  const AVRational Sar = Par->sample_aspect_ratio;
  if (Sar.den == 0 || Par->height == 0)
    Info.DisplayAspect = 0.0f;
  else
    Info.DisplayAspect = static_cast<float>(Par->width * (double(Sar.num) / double(Sar.den)) / Par->height);
  Info.PixelFormat = Par->format;
  // The real (base) frame rate; a demuxer that does not know it may still know the
  // average one.
  const AVRational Rate = ValidRate(Stream->r_frame_rate) || !ValidRate(Stream->avg_frame_rate)
                              ? Stream->r_frame_rate
                              : Stream->avg_frame_rate;
  Info.FrameRateNum = Rate.num;
  Info.FrameRateDen = Rate.den;
  return Info;
}

std::string TAVProbe::LoadedFileName() const {
  if (!FContext) {
    LibraryLog(1, "file not loaded.\n");
    return std::string();
  }
  return FContext->url ? FContext->url : "";
}
