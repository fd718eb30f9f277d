// Opening an input: the open options, the stream information, the start position,
// and the defaults the following outputs take from the input's streams.
#include <algorithm>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace {

// The options that fill the old format-parameter record, each only when it is set.
void AddOpenOptions(const TCustomFFmpeg& AEngine, TDictionary& AOptions) {
  auto Set = [&](const char* AName, const std::string& AValue) { av::av_dict_set(AOptions.Address(), AName, AValue.c_str(), 0); };
  if (AEngine.AudioSampleRate > 0) Set("sample_rate", std::to_string(AEngine.AudioSampleRate));
  if (AEngine.AudioChannels > 0) Set("channels", std::to_string(AEngine.AudioChannels));
  const int Width = AEngine.FrameWidth + AEngine.PadLeft + AEngine.PadRight;
  const int Height = AEngine.FrameHeight + AEngine.PadTop + AEngine.PadBottom;
  if (Width > 0 && Height > 0) Set("video_size", FormatText("%dx%d", Width, Height));
  if (AEngine.FramePixFmt >= 0)
    if (const char* Name = av::av_get_pix_fmt_name(static_cast<AVPixelFormat>(AEngine.FramePixFmt))) Set("pixel_format", Name);
  if (AEngine.FrameRate.num > 0 && AEngine.FrameRate.den > 0)
    Set("framerate", FormatText("%d/%d", AEngine.FrameRate.num, AEngine.FrameRate.den));
  if (AEngine.VideoChannel != 0) Set("channel", std::to_string(AEngine.VideoChannel));
  if (!AEngine.VideoStandard.empty()) Set("standard", AEngine.VideoStandard);
}

std::string LowerExtension(const std::string& AFileName) { return LowerCase(ExtractFileExt(AFileName)); }

}  // namespace

void TCustomFFmpeg::ResetPerInputOptions() {
  VideoCodecName.clear();
  AudioCodecName.clear();
  SubtitleCodecName.clear();
  InputFormat = nullptr;
  OutputFormat = nullptr;
  VideoChannel = 0;
  RateEmu = 0;
}

void TCustomFFmpeg::TakeVideoStreamDefaults(const std::string& AFileName, AVStream* AStream,
                                            AVCodecContext* ADecoder) {
  ApplyGenericOptions(ADecoder, CodecOpts[AVMEDIA_TYPE_VIDEO].get(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
  FrameHeight = ADecoder->height;
  FrameWidth = ADecoder->width;
  const AVRational Sar = AStream->sample_aspect_ratio.num ? AStream->sample_aspect_ratio : ADecoder->sample_aspect_ratio;
  const double A = Sar.den ? static_cast<double>(Sar.num) / Sar.den : 0;
  FrameAspectRatio = static_cast<float>(A);
  if (ADecoder->width * ADecoder->height != 0)
    FrameAspectRatio = static_cast<float>(A != 0 ? ADecoder->width * A / ADecoder->height
                                                 : static_cast<double>(ADecoder->width) / ADecoder->height);
  else if (FrameAspectRatio == 0)
    FrameAspectRatio = 4.0f / 3;

  // Some RealMedia files do not say what their pictures are; they are 4:2:0.
  if (ADecoder->pix_fmt == AV_PIX_FMT_NONE && LowerExtension(AFileName).rfind(".rmvb", 0) == 0)
    ADecoder->pix_fmt = AV_PIX_FMT_YUV420P;
  FramePixFmt = ADecoder->pix_fmt;

  const AVRational Real = AStream->r_frame_rate;
  const AVRational Codec = AStream->avg_frame_rate;
  if (Verbose > 0 && Codec.num && Codec.den && Real.num && Real.den &&
      (Codec.num != Real.num || Codec.den != Real.den))
    Log(1, FormatText("Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
                      AStream->index, static_cast<double>(Codec.num) / Codec.den, Codec.num, Codec.den,
                      static_cast<double>(Real.num) / Real.den, Real.num, Real.den));
  FrameRate = Real;
  if (VideoDisable)
    AStream->discard = AVDISCARD_ALL;
  else if (VideoDiscard)
    AStream->discard = static_cast<AVDiscard>(VideoDiscard);
}

bool TCustomFFmpeg::AddInputFile(const std::string& AFileName) {
  // Whatever happens, the per-input options are used up by this input.
  struct TResetAtEnd {
    TCustomFFmpeg& Engine;
    ~TResetAtEnd() { Engine.ResetPerInputOptions(); }
  } Reset{*this};

  if (InputFileCount >= MAX_FILES) {
    LastError = FormatText("Too many input files (at most %d)", MAX_FILES);
    return false;
  }
  TDictionary OpenOptions;
  AddOpenOptions(*this, OpenOptions);
  TInputContextPtr Input;
  if (!OpenInput(AFileName, OpenOptions, Input)) return false;
  DiscardOtherPrograms(Input.get());
  if (!FindStreamInfo(AFileName, Input.get())) return false;
  const int64_t Timestamp = StartTimestamp(Input.get());
  const bool Seeked = SeekToStart(Input.get(), Timestamp);
  std::vector<TCodecContextPtr> Decoders;
  if (!MakeDecoders(AFileName, Input.get(), Decoders)) return false;
  ListInputFile(AFileName, std::move(Input), std::move(Decoders), Timestamp, Seeked);
  return true;
}

// The demuxer context with the forced codecs and the generic options, opened on the
// file.
bool TCustomFFmpeg::OpenInput(const std::string& AFileName, TDictionary& AOpenOptions, TInputContextPtr& AInput) {
  int32_t VideoId = 0, AudioId = 0, SubtitleId = 0;
  if (!FindCodec(VideoCodecName, AVMEDIA_TYPE_VIDEO, VideoId, false) ||
      !FindCodec(AudioCodecName, AVMEDIA_TYPE_AUDIO, AudioId, false) ||
      !FindCodec(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, SubtitleId, false))
    return false;
  if (PgmyuvCompat) VideoId = AV_CODEC_ID_PGMYUV;

  AVFormatContext* Raw = av::avformat_alloc_context();
  if (!Raw) {
    LastError = FormatOpenError(AFileName, AVERROR(ENOMEM));
    return false;
  }
  ApplyGenericOptions(Raw, FormatOpts.get(), AV_OPT_FLAG_DECODING_PARAM);
  Raw->video_codec_id = static_cast<AVCodecID>(VideoId);
  Raw->audio_codec_id = static_cast<AVCodecID>(AudioId);
  Raw->subtitle_codec_id = static_cast<AVCodecID>(SubtitleId);
  // A stop request also ends a read that waits for data.
  Raw->interrupt_callback = {[](void* AEngine) { return static_cast<TCustomFFmpeg*>(AEngine)->StopRequested ? 1 : 0; },
                             this};

  // On failure the library frees the context itself.
  const int Err = av::avformat_open_input(&Raw, AFileName.c_str(), InputFormat, AOpenOptions.Address());
  if (Err < 0) {
    LastError = FormatOpenError(AFileName, Err);
    return false;
  }
  AInput.reset(Raw);
  return true;
}

void TCustomFFmpeg::DiscardOtherPrograms(AVFormatContext* AInput) {
  if (ProgramId == 0) return;
  for (unsigned I = 0; I < AInput->nb_programs; ++I)
    if (AInput->programs[I]->id != ProgramId) AInput->programs[I]->discard = AVDISCARD_ALL;
}

bool TCustomFFmpeg::FindStreamInfo(const std::string& AFileName, AVFormatContext* AInput) {
  int Ret;
  {
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    Ret = av::avformat_find_stream_info(AInput, nullptr);
  }
  if (Ret < 0 && Verbose >= 0) {
    LastError = AFileName + ": could not find codec parameters";
    return false;
  }
  return true;
}

// The start position on the input's own timeline.
int64_t TCustomFFmpeg::StartTimestamp(const AVFormatContext* AInput) const {
  int64_t Timestamp = StartTime;
  if (AInput->start_time != AV_NOPTS_VALUE) Timestamp += AInput->start_time;
  return Timestamp;
}

// A start position is used up by the input it seeks in. False when there was none.
bool TCustomFFmpeg::SeekToStart(AVFormatContext* AInput, int64_t ATimestamp) {
  if (StartTime == 0) return false;
  av::av_seek_frame(AInput, -1, ATimestamp, AVSEEK_FLAG_BACKWARD);
  StartTime = 0;
  return true;
}

// One decoder context per stream, each with the options and defaults of its type.
bool TCustomFFmpeg::MakeDecoders(const std::string& AFileName, AVFormatContext* AInput,
                                 std::vector<TCodecContextPtr>& ADecoders) {
  for (unsigned I = 0; I < AInput->nb_streams; ++I) {
    AVStream* Stream = AInput->streams[I];
    const AVMediaType Type = Stream->codecpar->codec_type;
    if (Type < AVMEDIA_TYPE_UNKNOWN || Type >= AVMEDIA_TYPE_NB) throw FFMpegException("invalid codec_type");
    TCodecContextPtr Decoder(av::avcodec_alloc_context3(av::avcodec_find_decoder(Stream->codecpar->codec_id)));
    if (!Decoder || av::avcodec_parameters_to_context(Decoder.get(), Stream->codecpar) < 0) {
      LastError = FormatOpenError(AFileName, AVERROR(ENOMEM));
      return false;
    }
    Decoder->pkt_timebase = Stream->time_base;
    Decoder->thread_count = ThreadCount;
    TakeStreamDefaults(AFileName, Stream, Decoder.get());
    ADecoders.push_back(std::move(Decoder));
  }
  return true;
}

void TCustomFFmpeg::TakeStreamDefaults(const std::string& AFileName, AVStream* AStream, AVCodecContext* ADecoder) {
  switch (AStream->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO: TakeVideoStreamDefaults(AFileName, AStream, ADecoder); break;
    case AVMEDIA_TYPE_AUDIO: TakeAudioStreamDefaults(AStream, ADecoder); break;
    case AVMEDIA_TYPE_SUBTITLE:
      if (SubtitleDisable) AStream->discard = AVDISCARD_ALL;
      break;
    default: break;
  }
}

void TCustomFFmpeg::TakeAudioStreamDefaults(AVStream* AStream, AVCodecContext* ADecoder) {
  ApplyGenericOptions(ADecoder, CodecOpts[AVMEDIA_TYPE_AUDIO].get(),
                      AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
  AudioChannels = ADecoder->ch_layout.nb_channels;
  AudioSampleRate = ADecoder->sample_rate;
  AudioSampleFmt = ADecoder->sample_fmt;
  if (AudioDisable) AStream->discard = AVDISCARD_ALL;
}

// The input takes the next slot with its offsets, loop count and rate emulation, and
// the longest input sets the total duration.
void TCustomFFmpeg::ListInputFile(const std::string& AFileName, TInputContextPtr AInput,
                                  std::vector<TCodecContextPtr> ADecoders, int64_t ATimestamp, bool ASeeked) {
  if (AInput->duration != AV_NOPTS_VALUE) {
    const int64_t Ms = std::min<int64_t>(AInput->duration / 1000, INT32_MAX);
    if (TotalDuration < Ms) TotalDuration = static_cast<int32_t>(Ms);
  }
  const int Index = InputFileCount;
  InputTsOffsets[Index] = CopyTs ? InputTsOffset : InputTsOffset - ATimestamp;
  InputSeekTargets[Index] = ASeeked ? ATimestamp + InputTsOffsets[Index] : NoPtsValue;
  InputLoops[Index] = LoopInput;
  InputRateEmu[Index] = RateEmu;
  if (Verbose >= 0) av::av_dump_format(AInput.get(), Index, AFileName.c_str(), 0);
  InputCodecs[Index] = std::move(ADecoders);
  StoreInputFile(std::move(AInput));
}

void TCustomFFmpeg::CheckInputStreamTypes(bool& AHasVideo, bool& AHasAudio, bool& AHasSubtitle) {
  AHasVideo = AHasAudio = AHasSubtitle = false;
  for (int F = 0; F < InputFileCount; ++F)
    for (unsigned S = 0; S < InputFiles[F]->nb_streams; ++S) switch (InputFiles[F]->streams[S]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO: AHasVideo = true; break;
        case AVMEDIA_TYPE_AUDIO: AHasAudio = true; break;
        case AVMEDIA_TYPE_SUBTITLE: AHasSubtitle = true; break;
        case AVMEDIA_TYPE_UNKNOWN:
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_ATTACHMENT: break;
        default: throw FFMpegException("invalid codec_type of input file");
      }
}
