#include "MediaGenerator.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "FFmpeg.h"

namespace {

[[noreturn]] void Fail(const std::string& AFileName, const std::string& AStep, int AError = 0) {
  std::string Message = AFileName + ": " + AStep;
  if (AError < 0) {
    char Text[AV_ERROR_MAX_STRING_SIZE] = {};
    av::av_strerror(AError, Text, sizeof Text);
    Message += std::string(" (") + Text + ")";
  }
  throw std::runtime_error(Message);
}

// The file being made: its muxer context and its I/O, closed on every way out. A file
// that was not finished is removed, so no test finds half a file.
class TOutput {
public:
  TOutput(const std::string& AFileName, const std::string& AFormat) : FileName(AFileName) {
    AVFormatContext* Raw = nullptr;
    const int Err = av::avformat_alloc_output_context2(&Raw, nullptr, AFormat.c_str(), AFileName.c_str());
    if (Err < 0 || !Raw) Fail(AFileName, "no muxer \"" + AFormat + "\"", Err);
    Context.reset(Raw);
    Packet.reset(av::av_packet_alloc());
    if (!Packet) Fail(AFileName, "no packet");
  }
  ~TOutput() {
    if (Context && Context->pb) av::avio_closep(&Context->pb);
    if (!Finished) std::remove(FileName.c_str());
  }
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;

  bool NeedsGlobalHeader() const { return Context->oformat->flags & AVFMT_GLOBALHEADER; }

  void Begin() {
    if (!(Context->oformat->flags & AVFMT_NOFILE)) {
      const int Err = av::avio_open(&Context->pb, FileName.c_str(), AVIO_FLAG_WRITE);
      if (Err < 0) Fail(FileName, "cannot create the file", Err);
    }
    const int Err = av::avformat_write_header(Context.get(), nullptr);
    if (Err < 0) Fail(FileName, "cannot write the header", Err);
  }

  // APacket's timestamps are in ATimeBase; the muxer gets them in the stream's.
  void Write(AVPacket* APacket, AVStream* AStream, AVRational ATimeBase) {
    av::av_packet_rescale_ts(APacket, ATimeBase, AStream->time_base);
    APacket->stream_index = AStream->index;
    const int Err = av::av_interleaved_write_frame(Context.get(), APacket);
    if (Err < 0) Fail(FileName, "cannot write a packet", Err);
  }

  void End() {
    int Err = av::av_write_trailer(Context.get());
    if (Err < 0) Fail(FileName, "cannot write the trailer", Err);
    if (Context->pb) {
      Err = av::avio_closep(&Context->pb);
      if (Err < 0) Fail(FileName, "cannot close the file", Err);
    }
    Finished = true;
  }

  std::string FileName;
  TFormatContextPtr Context;
  TPacketPtr Packet;
  bool Finished = false;
};

// One stream of the file and its encoder. NextPts is the time of the next frame the
// track would produce, in TimeBase; the tracks are advanced in time order so the
// muxer gets them interleaved.
class TTrack {
public:
  explicit TTrack(TOutput& AOutput) : FOutput(AOutput) {}
  virtual ~TTrack() = default;
  TTrack(const TTrack&) = delete;
  TTrack& operator=(const TTrack&) = delete;

  virtual bool Done() const = 0;
  virtual void EncodeNext() = 0;
  virtual void Flush() { Send(nullptr); }

  int64_t NextPts = 0;
  AVRational TimeBase{1, 1};

protected:
  const AVCodec* FindEncoder(const std::string& AName, AVMediaType AType) {
    const AVCodec* Codec = av::avcodec_find_encoder_by_name(AName.c_str());
    if (!Codec || Codec->type != AType) Fail(FOutput.FileName, "no encoder \"" + AName + "\"");
    FCodec.reset(av::avcodec_alloc_context3(Codec));
    if (!FCodec) Fail(FOutput.FileName, "no codec context for \"" + AName + "\"");
    // The library's own Vorbis encoder counts as experimental.
    FCodec->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (FOutput.NeedsGlobalHeader()) FCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return Codec;
  }

  void OpenEncoder(const AVCodec* ACodec, const std::string& ALanguage) {
    int Err;
    {
      std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
      Err = av::avcodec_open2(FCodec.get(), ACodec, nullptr);
    }
    if (Err < 0) Fail(FOutput.FileName, std::string("cannot open encoder \"") + ACodec->name + "\"", Err);
    FStream = av::avformat_new_stream(FOutput.Context.get(), nullptr);
    if (!FStream) Fail(FOutput.FileName, "no stream");
    FStream->time_base = FCodec->time_base;
    Err = av::avcodec_parameters_from_context(FStream->codecpar, FCodec.get());
    if (Err < 0) Fail(FOutput.FileName, "cannot copy the encoder's parameters", Err);
    if (!ALanguage.empty()) av::av_dict_set(&FStream->metadata, "language", ALanguage.c_str(), 0);
    TimeBase = FCodec->time_base;
  }

  // Hands a frame (null: the end) to the encoder and writes every packet it gives back.
  void Send(AVFrame* AFrame) {
    int Err = av::avcodec_send_frame(FCodec.get(), AFrame);
    if (Err < 0 && !(AFrame == nullptr && Err == AVERROR_EOF)) Fail(FOutput.FileName, "cannot encode", Err);
    AVPacket* Packet = FOutput.Packet.get();
    while ((Err = av::avcodec_receive_packet(FCodec.get(), Packet)) >= 0) {
      FOutput.Write(Packet, FStream, FCodec->time_base);
      av::av_packet_unref(Packet);
    }
    if (Err != AVERROR(EAGAIN) && Err != AVERROR_EOF) Fail(FOutput.FileName, "cannot encode", Err);
  }

  TFramePtr NewFrame() {
    TFramePtr Frame(av::av_frame_alloc());
    if (!Frame) Fail(FOutput.FileName, "no frame");
    return Frame;
  }

  TOutput& FOutput;
  TCodecContextPtr FCodec;
  AVStream* FStream = nullptr;
};

bool WritableSampleFormat(AVSampleFormat AFormat) {
  switch (AFormat) {
    case AV_SAMPLE_FMT_U8: case AV_SAMPLE_FMT_U8P:
    case AV_SAMPLE_FMT_S16: case AV_SAMPLE_FMT_S16P:
    case AV_SAMPLE_FMT_S32: case AV_SAMPLE_FMT_S32P:
    case AV_SAMPLE_FMT_FLT: case AV_SAMPLE_FMT_FLTP:
    case AV_SAMPLE_FMT_DBL: case AV_SAMPLE_FMT_DBLP:
      return true;
    default:
      return false;
  }
}

// AValue in [-1, 1], stored as the sample format AFormat holds it.
void StoreSample(uint8_t* ATarget, AVSampleFormat AFormat, double AValue) {
  switch (AFormat) {
    case AV_SAMPLE_FMT_U8: case AV_SAMPLE_FMT_U8P:
      *ATarget = static_cast<uint8_t>(std::lround(128.0 + 127.0 * AValue));
      break;
    case AV_SAMPLE_FMT_S16: case AV_SAMPLE_FMT_S16P: {
      const auto V = static_cast<int16_t>(std::lround(32767.0 * AValue));
      std::memcpy(ATarget, &V, sizeof V);
      break;
    }
    case AV_SAMPLE_FMT_S32: case AV_SAMPLE_FMT_S32P: {
      const auto V = static_cast<int32_t>(std::lround(2147483647.0 * AValue));
      std::memcpy(ATarget, &V, sizeof V);
      break;
    }
    case AV_SAMPLE_FMT_FLT: case AV_SAMPLE_FMT_FLTP: {
      const auto V = static_cast<float>(AValue);
      std::memcpy(ATarget, &V, sizeof V);
      break;
    }
    default:
      std::memcpy(ATarget, &AValue, sizeof AValue);
      break;
  }
}

// Samples are written straight in the encoder's own sample format: no resampler needed.
class TAudioEncoderTrack : public TTrack {
public:
  TAudioEncoderTrack(TOutput& AOutput, const TAudioTrack& ATrack, double ASeconds)
      : TTrack(AOutput), FTrack(ATrack) {
    if (ATrack.SampleRate <= 0 || ATrack.Channels <= 0)
      Fail(AOutput.FileName, "audio needs a sample rate and channels");
    const AVCodec* Codec = FindEncoder(ATrack.Codec, AVMEDIA_TYPE_AUDIO);
    FFormat = AV_SAMPLE_FMT_NONE;
    for (const AVSampleFormat* F = Codec->sample_fmts; F && *F != AV_SAMPLE_FMT_NONE; ++F)
      if (WritableSampleFormat(*F)) {
        FFormat = *F;
        break;
      }
    if (FFormat == AV_SAMPLE_FMT_NONE) Fail(AOutput.FileName, "no sample format to write for " + ATrack.Codec);
    FCodec->sample_fmt = FFormat;
    FCodec->sample_rate = ATrack.SampleRate;
    av::av_channel_layout_default(&FCodec->ch_layout, ATrack.Channels);
    FCodec->time_base = AVRational{1, ATrack.SampleRate};
    if (ATrack.BitRate > 0) FCodec->bit_rate = ATrack.BitRate;
    OpenEncoder(Codec, ATrack.Language);

    const bool AnySize = Codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    FFrameSize = (FCodec->frame_size > 0 && !AnySize) ? FCodec->frame_size : 1024;
    FShortLastFrame = AnySize || (Codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
    FTotal = std::llround(ASeconds * ATrack.SampleRate);
  }

  bool Done() const override { return NextPts >= FTotal; }

  void EncodeNext() override {
    const int Count = static_cast<int>(std::min<int64_t>(FFrameSize, FTotal - NextPts));
    // An encoder that takes whole frames only gets the last one padded with silence.
    const int Size = FShortLastFrame ? Count : FFrameSize;
    TFramePtr Frame = NewFrame();
    Frame->nb_samples = Size;
    Frame->format = FFormat;
    Frame->sample_rate = FTrack.SampleRate;
    av::av_channel_layout_copy(&Frame->ch_layout, &FCodec->ch_layout);
    const int Err = av::av_frame_get_buffer(Frame.get(), 0);
    if (Err < 0) Fail(FOutput.FileName, "no sample buffer", Err);

    const bool Planar = av::av_sample_fmt_is_planar(FFormat);
    const int Bytes = av::av_get_bytes_per_sample(FFormat);
    const int Channels = FTrack.Channels;
    for (int I = 0; I < Size; ++I) {
      const double Value = I < Count ? ToneSample(FTrack.Frequencies, NextPts + I, FTrack.SampleRate) : 0.0;
      for (int C = 0; C < Channels; ++C) {
        uint8_t* Target = Planar ? Frame->extended_data[C] + size_t(I) * Bytes
                                 : Frame->extended_data[0] + (size_t(I) * Channels + C) * Bytes;
        StoreSample(Target, FFormat, Value);
      }
    }
    Frame->pts = NextPts;
    NextPts += Count;
    Send(Frame.get());
  }

private:
  TAudioTrack FTrack;
  AVSampleFormat FFormat;
  int FFrameSize = 1024;
  bool FShortLastFrame = false;
  int64_t FTotal = 0;
};

class TVideoEncoderTrack : public TTrack {
public:
  TVideoEncoderTrack(TOutput& AOutput, const TVideoTrack& ATrack, double ASeconds)
      : TTrack(AOutput), FTrack(ATrack) {
    if (ATrack.Width <= 0 || ATrack.Height <= 0 || ATrack.FrameRate.num <= 0 || ATrack.FrameRate.den <= 0)
      Fail(AOutput.FileName, "video needs a size and a frame rate");
    const AVCodec* Codec = FindEncoder(ATrack.Codec, AVMEDIA_TYPE_VIDEO);
    bool HasYuv420 = !Codec->pix_fmts;
    for (const AVPixelFormat* F = Codec->pix_fmts; F && *F != AV_PIX_FMT_NONE; ++F)
      HasYuv420 = HasYuv420 || *F == AV_PIX_FMT_YUV420P;
    if (!HasYuv420) Fail(AOutput.FileName, ATrack.Codec + " does not take yuv420p pictures");
    FCodec->pix_fmt = AV_PIX_FMT_YUV420P;
    FCodec->width = ATrack.Width;
    FCodec->height = ATrack.Height;
    FCodec->time_base = AVRational{ATrack.FrameRate.den, ATrack.FrameRate.num};
    FCodec->framerate = ATrack.FrameRate;
    FCodec->sample_aspect_ratio = ATrack.SampleAspect;
    FCodec->bit_rate = ATrack.BitRate;
    FCodec->gop_size = 12;
    FCodec->max_b_frames = 0;
    OpenEncoder(Codec, "");
    FStream->avg_frame_rate = ATrack.FrameRate;
    FStream->sample_aspect_ratio = ATrack.SampleAspect;
    FTotal = std::llround(ASeconds * ATrack.FrameRate.num / ATrack.FrameRate.den);
  }

  bool Done() const override { return NextPts >= FTotal; }

  void EncodeNext() override {
    TFramePtr Frame = NewFrame();
    Frame->format = AV_PIX_FMT_YUV420P;
    Frame->width = FTrack.Width;
    Frame->height = FTrack.Height;
    const int Err = av::av_frame_get_buffer(Frame.get(), 0);
    if (Err < 0) Fail(FOutput.FileName, "no picture buffer", Err);
    const int N = static_cast<int>(NextPts);
    const int BarLeft = (N * 8) % FTrack.Width;
    for (int Y = 0; Y < FTrack.Height; ++Y) {
      uint8_t* Row = Frame->data[0] + size_t(Y) * Frame->linesize[0];
      for (int X = 0; X < FTrack.Width; ++X) {
        const bool InBar = X >= BarLeft && X < BarLeft + FTrack.Width / 10;
        Row[X] = InBar ? 235 : static_cast<uint8_t>(16 + (X + Y + N * 4) % 200);
      }
    }
    for (int Y = 0; Y < (FTrack.Height + 1) / 2; ++Y) {
      uint8_t* U = Frame->data[1] + size_t(Y) * Frame->linesize[1];
      uint8_t* V = Frame->data[2] + size_t(Y) * Frame->linesize[2];
      for (int X = 0; X < (FTrack.Width + 1) / 2; ++X) {
        U[X] = static_cast<uint8_t>(64 + (X + N * 2) % 128);
        V[X] = static_cast<uint8_t>(64 + (Y + N * 3) % 128);
      }
    }
    Frame->pts = NextPts++;
    Send(Frame.get());
  }

private:
  TVideoTrack FTrack;
  int64_t FTotal = 0;
};

// What the text-based subtitle encoders parse their styles from.
constexpr const char* AssHeader =
    "[Script Info]\r\n"
    "ScriptType: v4.00+\r\n"
    "PlayResX: 384\r\n"
    "PlayResY: 288\r\n"
    "\r\n"
    "[V4+ Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
    "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
    "Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
    "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,1\r\n"
    "\r\n"
    "[Events]\r\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";

// Owns an AVSubtitle's rectangles and texts until the encoder has read them.
struct TSubtitleHolder {
  AVSubtitle Value{};
  ~TSubtitleHolder() { av::avsubtitle_free(&Value); }
};

class TSubtitleEncoderTrack : public TTrack {
public:
  TSubtitleEncoderTrack(TOutput& AOutput, const TSubtitleTrack& ATrack) : TTrack(AOutput), FTrack(ATrack) {
    const AVCodec* Codec = FindEncoder(ATrack.Codec, AVMEDIA_TYPE_SUBTITLE);
    FCodec->time_base = AVRational{1, 1000};
    FCodec->subtitle_header = reinterpret_cast<uint8_t*>(av::av_strdup(AssHeader));
    if (!FCodec->subtitle_header) Fail(AOutput.FileName, "no memory for the subtitle header");
    FCodec->subtitle_header_size = static_cast<int>(std::strlen(AssHeader));
    OpenEncoder(Codec, ATrack.Language);
    if (!FTrack.Cues.empty()) NextPts = Milliseconds(FTrack.Cues[0].Start);
  }

  bool Done() const override { return FNext >= FTrack.Cues.size(); }

  void EncodeNext() override {
    const TSubtitleCue& Cue = FTrack.Cues[FNext++];
    const int64_t Start = Milliseconds(Cue.Start);
    const int64_t Duration = std::max<int64_t>(1, Milliseconds(Cue.End) - Start);

    TSubtitleHolder Subtitle;
    AVSubtitle& Sub = Subtitle.Value;
    Sub.rects = static_cast<AVSubtitleRect**>(av::av_mallocz(sizeof(AVSubtitleRect*)));
    if (!Sub.rects) Fail(FOutput.FileName, "no memory for a subtitle");
    Sub.rects[0] = static_cast<AVSubtitleRect*>(av::av_mallocz(sizeof(AVSubtitleRect)));
    if (!Sub.rects[0]) Fail(FOutput.FileName, "no memory for a subtitle");
    Sub.num_rects = 1;
    Sub.rects[0]->type = SUBTITLE_ASS;
    const std::string Dialogue = "0,0,Default,,0,0,0,," + Cue.Text;
    Sub.rects[0]->ass = av::av_strdup(Dialogue.c_str());
    Sub.pts = Start * 1000;  // AV_TIME_BASE
    Sub.start_display_time = 0;
    Sub.end_display_time = static_cast<uint32_t>(Duration);

    std::vector<uint8_t> Buffer(64 * 1024);
    const int Size = av::avcodec_encode_subtitle(FCodec.get(), Buffer.data(), static_cast<int>(Buffer.size()), &Sub);
    if (Size < 0) Fail(FOutput.FileName, "cannot encode a subtitle", Size);

    AVPacket* Packet = FOutput.Packet.get();
    Packet->data = Buffer.data();
    Packet->size = Size;
    Packet->pts = Packet->dts = Start;
    Packet->duration = Duration;
    Packet->flags |= AV_PKT_FLAG_KEY;
    // The muxer copies a packet that is not reference-counted.
    FOutput.Write(Packet, FStream, FCodec->time_base);
    av::av_packet_unref(Packet);

    if (FNext < FTrack.Cues.size()) NextPts = Milliseconds(FTrack.Cues[FNext].Start);
  }

  void Flush() override {}

private:
  static int64_t Milliseconds(double ASeconds) { return std::llround(ASeconds * 1000.0); }

  TSubtitleTrack FTrack;
  size_t FNext = 0;
};

}  // namespace

double ToneSample(const std::vector<double>& AFrequencies, int64_t ASampleIndex, int ASampleRate) {
  if (AFrequencies.empty() || ASampleRate <= 0) return 0.0;
  const double T = double(ASampleIndex) / ASampleRate;
  double Sum = 0;
  for (double F : AFrequencies) Sum += std::sin(2.0 * M_PI * F * T);
  // Half scale leaves lossy encoders room to overshoot without clipping.
  return 0.5 * Sum / double(AFrequencies.size());
}

std::string VorbisEncoderName() {
  return av::avcodec_find_encoder_by_name("libvorbis") ? "libvorbis" : "vorbis";
}

void MakeMedia(const TMediaSpec& ASpec) {
  if (ASpec.Seconds <= 0) Fail(ASpec.FileName, "a file needs a duration");
  TOutput Output(ASpec.FileName, ASpec.Format);
  std::vector<std::unique_ptr<TTrack>> Tracks;
  if (ASpec.HasVideo) Tracks.push_back(std::make_unique<TVideoEncoderTrack>(Output, ASpec.Video, ASpec.Seconds));
  for (const TAudioTrack& Audio : ASpec.Audio)
    Tracks.push_back(std::make_unique<TAudioEncoderTrack>(Output, Audio, ASpec.Seconds));
  if (ASpec.HasSubtitle) Tracks.push_back(std::make_unique<TSubtitleEncoderTrack>(Output, ASpec.Subtitle));
  if (Tracks.empty()) Fail(ASpec.FileName, "a file needs at least one stream");

  Output.Begin();
  for (;;) {
    TTrack* Earliest = nullptr;
    for (auto& Track : Tracks)
      if (!Track->Done() &&
          (!Earliest || av::av_compare_ts(Track->NextPts, Track->TimeBase, Earliest->NextPts, Earliest->TimeBase) < 0))
        Earliest = Track.get();
    if (!Earliest) break;
    Earliest->EncodeNext();
  }
  for (auto& Track : Tracks) Track->Flush();
  Output.End();
}

void MakeTone(const TToneSpec& ASpec) {
  TMediaSpec Media;
  Media.FileName = ASpec.FileName;
  Media.Format = ASpec.Format;
  Media.Seconds = ASpec.Seconds;
  Media.Audio.push_back({ASpec.Codec, ASpec.SampleRate, ASpec.Channels, ASpec.Frequencies, ASpec.BitRate, ""});
  MakeMedia(Media);
}

void MakeVideo(const TVideoSpec& ASpec) {
  TMediaSpec Media;
  Media.FileName = ASpec.FileName;
  Media.Format = ASpec.Format;
  Media.Seconds = ASpec.Seconds;
  Media.HasVideo = true;
  Media.Video = ASpec.Video;
  if (ASpec.WithAudio) Media.Audio.push_back(ASpec.Audio);
  MakeMedia(Media);
}

void MakeSubtitled(const TSubtitledSpec& ASpec) {
  TMediaSpec Media;
  Media.FileName = ASpec.FileName;
  Media.Format = ASpec.Format;
  Media.Seconds = ASpec.Seconds;
  Media.Audio.push_back(ASpec.Audio);
  Media.HasSubtitle = true;
  Media.Subtitle = ASpec.Subtitle;
  MakeMedia(Media);
}

void MakeTwoAudioStreams(const std::string& AFileName, const TAudioTrack& AFirst, const TAudioTrack& ASecond,
                         double ASeconds, const std::string& AFormat) {
  TMediaSpec Media;
  Media.FileName = AFileName;
  Media.Format = AFormat;
  Media.Seconds = ASeconds;
  Media.Audio = {AFirst, ASecond};
  MakeMedia(Media);
}

namespace {

double LoadSample(const uint8_t* ASource, AVSampleFormat AFormat) {
  switch (AFormat) {
    case AV_SAMPLE_FMT_U8: case AV_SAMPLE_FMT_U8P:
      return (double(*ASource) - 128.0) / 128.0;
    case AV_SAMPLE_FMT_S16: case AV_SAMPLE_FMT_S16P: {
      int16_t V;
      std::memcpy(&V, ASource, sizeof V);
      return V / 32768.0;
    }
    case AV_SAMPLE_FMT_S32: case AV_SAMPLE_FMT_S32P: {
      int32_t V;
      std::memcpy(&V, ASource, sizeof V);
      return V / 2147483648.0;
    }
    case AV_SAMPLE_FMT_FLT: case AV_SAMPLE_FMT_FLTP: {
      float V;
      std::memcpy(&V, ASource, sizeof V);
      return V;
    }
    default: {
      double V;
      std::memcpy(&V, ASource, sizeof V);
      return V;
    }
  }
}

}  // namespace

TDecodedAudio DecodeAudio(const std::string& AFileName, int AStreamIndex) {
  AVFormatContext* Raw = nullptr;
  int Err = av::avformat_open_input(&Raw, AFileName.c_str(), nullptr, nullptr);
  if (Err < 0) Fail(AFileName, "cannot open", Err);
  TInputContextPtr Input(Raw);
  {
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    Err = av::avformat_find_stream_info(Input.get(), nullptr);
  }
  if (Err < 0) Fail(AFileName, "no stream information", Err);
  const int Index = AStreamIndex >= 0 ? AStreamIndex
                                      : av::av_find_best_stream(Input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (Index < 0 || Index >= int(Input->nb_streams) ||
      Input->streams[Index]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
    Fail(AFileName, "no such audio stream");
  const AVCodecParameters* Par = Input->streams[Index]->codecpar;
  const AVCodec* Decoder = av::avcodec_find_decoder(Par->codec_id);
  if (!Decoder) Fail(AFileName, "no decoder");
  TCodecContextPtr Codec(av::avcodec_alloc_context3(Decoder));
  if (!Codec || av::avcodec_parameters_to_context(Codec.get(), Par) < 0) Fail(AFileName, "no decoder context");
  {
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    Err = av::avcodec_open2(Codec.get(), Decoder, nullptr);
  }
  if (Err < 0) Fail(AFileName, "cannot open the decoder", Err);

  TDecodedAudio Result;
  Result.SampleRate = Codec->sample_rate;
  Result.Channels = Codec->ch_layout.nb_channels;
  TPacketPtr Packet(av::av_packet_alloc());
  TFramePtr Frame(av::av_frame_alloc());
  if (!Packet || !Frame) Fail(AFileName, "no packet or frame");
  auto Receive = [&] {
    while ((Err = av::avcodec_receive_frame(Codec.get(), Frame.get())) >= 0) {
      const auto Format = static_cast<AVSampleFormat>(Frame->format);
      const bool Planar = av::av_sample_fmt_is_planar(Format);
      const int Bytes = av::av_get_bytes_per_sample(Format);
      const int Channels = Frame->ch_layout.nb_channels;
      for (int I = 0; I < Frame->nb_samples; ++I)
        for (int C = 0; C < Channels; ++C)
          Result.Samples.push_back(LoadSample(
              Planar ? Frame->extended_data[C] + size_t(I) * Bytes
                     : Frame->extended_data[0] + (size_t(I) * Channels + C) * Bytes,
              Format));
      av::av_frame_unref(Frame.get());
    }
    if (Err != AVERROR(EAGAIN) && Err != AVERROR_EOF) Fail(AFileName, "cannot decode", Err);
  };
  while (av::av_read_frame(Input.get(), Packet.get()) >= 0) {
    if (Packet->stream_index == Index) {
      Err = av::avcodec_send_packet(Codec.get(), Packet.get());
      if (Err < 0 && Err != AVERROR_INVALIDDATA) Fail(AFileName, "cannot decode", Err);
      Receive();
    }
    av::av_packet_unref(Packet.get());
  }
  av::avcodec_send_packet(Codec.get(), nullptr);
  Receive();
  return Result;
}

// ---------------------------------------------------------------------------
// Video and packet checks, bitmap subtitles

namespace {

// An opened file with its stream information; AType's first stream, or AIndex.
struct TOpenedInput {
  TOpenedInput(const std::string& AFileName, AVMediaType AType, int AIndex) {
    AVFormatContext* Raw = nullptr;
    int Err = av::avformat_open_input(&Raw, AFileName.c_str(), nullptr, nullptr);
    if (Err < 0) Fail(AFileName, "cannot open", Err);
    Input.reset(Raw);
    {
      std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
      Err = av::avformat_find_stream_info(Input.get(), nullptr);
    }
    if (Err < 0) Fail(AFileName, "no stream information", Err);
    Index = AIndex;
    if (Index < 0)
      for (unsigned I = 0; I < Input->nb_streams && Index < 0; ++I)
        if (Input->streams[I]->codecpar->codec_type == AType) Index = static_cast<int>(I);
  }
  bool Found() const { return Index >= 0 && Index < int(Input->nb_streams); }
  AVStream* Stream() const { return Input->streams[Index]; }

  // A decoder for the stream, opened.
  TCodecContextPtr OpenDecoder(const std::string& AFileName) const {
    const AVCodec* Decoder = av::avcodec_find_decoder(Stream()->codecpar->codec_id);
    if (!Decoder) Fail(AFileName, "no decoder");
    TCodecContextPtr Codec(av::avcodec_alloc_context3(Decoder));
    if (!Codec || av::avcodec_parameters_to_context(Codec.get(), Stream()->codecpar) < 0)
      Fail(AFileName, "no decoder context");
    Codec->pkt_timebase = Stream()->time_base;
    int Err;
    {
      std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
      Err = av::avcodec_open2(Codec.get(), Decoder, nullptr);
    }
    if (Err < 0) Fail(AFileName, "cannot open the decoder", Err);
    return Codec;
  }

  TInputContextPtr Input;
  int Index = -1;
};

void KeepPlanes(const AVFrame* AFrame, TDecodedPicture& APicture) {
  APicture.Width = AFrame->width;
  APicture.Height = AFrame->height;
  APicture.Format = AFrame->format;
  const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(AFrame->format));
  if (!Desc || !(Desc->flags & AV_PIX_FMT_FLAG_PLANAR) || Desc->comp[0].depth != 8 || Desc->nb_components < 3) return;
  for (int P = 0; P < 3; ++P) {
    const int W = P ? -((-AFrame->width) >> Desc->log2_chroma_w) : AFrame->width;
    const int H = P ? -((-AFrame->height) >> Desc->log2_chroma_h) : AFrame->height;
    APicture.PlaneWidth[P] = W;
    APicture.Planes[P].resize(size_t(W) * H);
    for (int Y = 0; Y < H; ++Y)
      std::memcpy(APicture.Planes[P].data() + size_t(Y) * W, AFrame->data[P] + size_t(Y) * AFrame->linesize[P], W);
  }
}

}  // namespace

TDecodedVideo DecodeVideo(const std::string& AFileName, int AStreamIndex) {
  TOpenedInput In(AFileName, AVMEDIA_TYPE_VIDEO, AStreamIndex);
  if (!In.Found() || In.Stream()->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) Fail(AFileName, "no such video stream");
  TCodecContextPtr Codec = In.OpenDecoder(AFileName);
  TDecodedVideo Result;
  Result.Codec = av::avcodec_get_name(In.Stream()->codecpar->codec_id);
  Result.Width = In.Stream()->codecpar->width;
  Result.Height = In.Stream()->codecpar->height;
  Result.Format = In.Stream()->codecpar->format;
  Result.FrameRate = In.Stream()->avg_frame_rate;
  const AVRational Tb = In.Stream()->time_base;
  TPacketPtr Packet(av::av_packet_alloc());
  TFramePtr Frame(av::av_frame_alloc());
  if (!Packet || !Frame) Fail(AFileName, "no packet or frame");
  int Err = 0;
  auto Receive = [&] {
    while ((Err = av::avcodec_receive_frame(Codec.get(), Frame.get())) >= 0) {
      if (Result.Times.empty()) KeepPlanes(Frame.get(), Result.First);
      KeepPlanes(Frame.get(), Result.Last);
      const int64_t Ts = Frame->best_effort_timestamp;
      Result.Times.push_back(Ts == AV_NOPTS_VALUE ? NAN : Ts * av_q2d(Tb));
      av::av_frame_unref(Frame.get());
    }
    if (Err != AVERROR(EAGAIN) && Err != AVERROR_EOF) Fail(AFileName, "cannot decode", Err);
  };
  while (av::av_read_frame(In.Input.get(), Packet.get()) >= 0) {
    if (Packet->stream_index == In.Index) {
      Err = av::avcodec_send_packet(Codec.get(), Packet.get());
      if (Err < 0 && Err != AVERROR_INVALIDDATA) Fail(AFileName, "cannot decode", Err);
      Receive();
    }
    av::av_packet_unref(Packet.get());
  }
  av::avcodec_send_packet(Codec.get(), nullptr);
  Receive();
  return Result;
}

TStreamPackets ReadPackets(const std::string& AFileName, int AMediaType) {
  const auto Type = static_cast<AVMediaType>(AMediaType);
  TOpenedInput In(AFileName, Type, -1);
  TStreamPackets Result;
  if (!In.Found()) return Result;
  Result.Codec = av::avcodec_get_name(In.Stream()->codecpar->codec_id);
  TCodecContextPtr Codec;
  if (Type == AVMEDIA_TYPE_SUBTITLE) Codec = In.OpenDecoder(AFileName);
  const AVRational Tb = In.Stream()->time_base;
  TPacketPtr Packet(av::av_packet_alloc());
  if (!Packet) Fail(AFileName, "no packet");
  while (av::av_read_frame(In.Input.get(), Packet.get()) >= 0) {
    if (Packet->stream_index == In.Index) {
      TPacketInfo Info;
      Info.Pts = Packet->pts == AV_NOPTS_VALUE ? NAN : Packet->pts * av_q2d(Tb);
      Info.Duration = Packet->duration * av_q2d(Tb);
      Info.Size = Packet->size;
      Info.Key = Packet->flags & AV_PKT_FLAG_KEY;
      Result.Packets.push_back(Info);
      if (Codec) {
        TSubtitleHolder Subtitle;
        int Got = 0;
        if (av::avcodec_decode_subtitle2(Codec.get(), &Subtitle.Value, &Got, Packet.get()) >= 0 && Got) {
          std::string Text;
          for (unsigned R = 0; R < Subtitle.Value.num_rects; ++R) {
            const AVSubtitleRect* Rect = Subtitle.Value.rects[R];
            Text += Rect->type == SUBTITLE_BITMAP ? "bitmap" : Rect->ass ? Rect->ass : Rect->text ? Rect->text : "";
          }
          Result.Texts.push_back(Text);
        }
      }
    }
    av::av_packet_unref(Packet.get());
  }
  return Result;
}

namespace {

class TBitmapSubtitleTrack : public TTrack {
public:
  TBitmapSubtitleTrack(TOutput& AOutput, const TSubtitleTrack& ATrack) : TTrack(AOutput), FTrack(ATrack) {
    const AVCodec* Codec = FindEncoder(ATrack.Codec, AVMEDIA_TYPE_SUBTITLE);
    FCodec->time_base = AVRational{1, 1000};
    FCodec->width = 720;
    FCodec->height = 576;
    OpenEncoder(Codec, ATrack.Language);
    if (!FTrack.Cues.empty()) NextPts = std::llround(FTrack.Cues[0].Start * 1000.0);
  }

  bool Done() const override { return FNext >= FTrack.Cues.size(); }

  void EncodeNext() override {
    const TSubtitleCue& Cue = FTrack.Cues[FNext++];
    const int64_t Start = std::llround(Cue.Start * 1000.0);
    const int64_t Duration = std::max<int64_t>(1, std::llround(Cue.End * 1000.0) - Start);
    TSubtitleHolder Subtitle;
    AVSubtitle& Sub = Subtitle.Value;
    Sub.rects = static_cast<AVSubtitleRect**>(av::av_mallocz(sizeof(AVSubtitleRect*)));
    if (!Sub.rects) Fail(FOutput.FileName, "no memory for a subtitle");
    Sub.rects[0] = static_cast<AVSubtitleRect*>(av::av_mallocz(sizeof(AVSubtitleRect)));
    if (!Sub.rects[0]) Fail(FOutput.FileName, "no memory for a subtitle");
    Sub.num_rects = 1;
    AVSubtitleRect& Rect = *Sub.rects[0];
    Rect.type = SUBTITLE_BITMAP;
    Rect.x = 100;
    Rect.y = 500;
    Rect.w = 64;
    Rect.h = 16;
    Rect.nb_colors = 4;
    Rect.linesize[0] = Rect.w;
    Rect.data[0] = static_cast<uint8_t*>(av::av_malloc(size_t(Rect.w) * Rect.h));
    Rect.data[1] = static_cast<uint8_t*>(av::av_mallocz(4 * sizeof(uint32_t)));
    if (!Rect.data[0] || !Rect.data[1]) Fail(FOutput.FileName, "no memory for a subtitle");
    for (int Y = 0; Y < Rect.h; ++Y)
      for (int X = 0; X < Rect.w; ++X) Rect.data[0][Y * Rect.w + X] = static_cast<uint8_t>(((X / 8) + Y / 8 + FNext) % 4);
    const uint32_t Palette[4] = {0x00000000, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
    std::memcpy(Rect.data[1], Palette, sizeof Palette);
    Sub.pts = Start * 1000;
    Sub.start_display_time = 0;
    Sub.end_display_time = static_cast<uint32_t>(Duration);

    std::vector<uint8_t> Buffer(256 * 1024);
    const int Size = av::avcodec_encode_subtitle(FCodec.get(), Buffer.data(), static_cast<int>(Buffer.size()), &Sub);
    if (Size < 0) Fail(FOutput.FileName, "cannot encode a subtitle", Size);
    AVPacket* Packet = FOutput.Packet.get();
    Packet->data = Buffer.data();
    Packet->size = Size;
    Packet->pts = Packet->dts = Start;
    Packet->duration = Duration;
    Packet->flags |= AV_PKT_FLAG_KEY;
    FOutput.Write(Packet, FStream, FCodec->time_base);
    av::av_packet_unref(Packet);
    if (FNext < FTrack.Cues.size()) NextPts = std::llround(FTrack.Cues[FNext].Start * 1000.0);
  }

  void Flush() override {}

private:
  TSubtitleTrack FTrack;
  size_t FNext = 0;
};

// Encodes the tracks in time order into AOutput and finishes the file.
void WriteTracks(TOutput& AOutput, std::vector<std::unique_ptr<TTrack>>& ATracks) {
  AOutput.Begin();
  for (;;) {
    TTrack* Earliest = nullptr;
    for (auto& Track : ATracks)
      if (!Track->Done() &&
          (!Earliest || av::av_compare_ts(Track->NextPts, Track->TimeBase, Earliest->NextPts, Earliest->TimeBase) < 0))
        Earliest = Track.get();
    if (!Earliest) break;
    Earliest->EncodeNext();
  }
  for (auto& Track : ATracks) Track->Flush();
  AOutput.End();
}

}  // namespace

void MakeBitmapSubtitled(const TSubtitledSpec& ASpec) {
  if (ASpec.Seconds <= 0) Fail(ASpec.FileName, "a file needs a duration");
  TOutput Output(ASpec.FileName, ASpec.Format);
  std::vector<std::unique_ptr<TTrack>> Tracks;
  Tracks.push_back(std::make_unique<TAudioEncoderTrack>(Output, ASpec.Audio, ASpec.Seconds));
  Tracks.push_back(std::make_unique<TBitmapSubtitleTrack>(Output, ASpec.Subtitle));
  WriteTracks(Output, Tracks);
}

void MakeVideoWithSizeChange(const std::string& AFileName, int AFirstWidth, int AFirstHeight, int ASecondWidth,
                             int ASecondHeight, int AFrames, const std::string& AFormat) {
  TOutput Output(AFileName, AFormat);
  const AVCodec* Codec = av::avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (!Codec) Fail(AFileName, "no MPEG-4 encoder");
  auto OpenEncoder = [&](int AWidth, int AHeight) {
    TCodecContextPtr Enc(av::avcodec_alloc_context3(Codec));
    if (!Enc) Fail(AFileName, "no codec context");
    Enc->pix_fmt = AV_PIX_FMT_YUV420P;
    Enc->width = AWidth;
    Enc->height = AHeight;
    Enc->time_base = AVRational{1, 25};
    Enc->framerate = AVRational{25, 1};
    Enc->bit_rate = 400000;
    Enc->gop_size = 12;
    Enc->max_b_frames = 0;
    int Err;
    {
      std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
      Err = av::avcodec_open2(Enc.get(), Codec, nullptr);
    }
    if (Err < 0) Fail(AFileName, "cannot open the MPEG-4 encoder", Err);
    return Enc;
  };
  TCodecContextPtr First = OpenEncoder(AFirstWidth, AFirstHeight);
  AVStream* Stream = av::avformat_new_stream(Output.Context.get(), nullptr);
  if (!Stream) Fail(AFileName, "no stream");
  Stream->time_base = First->time_base;
  Stream->avg_frame_rate = AVRational{25, 1};
  if (av::avcodec_parameters_from_context(Stream->codecpar, First.get()) < 0) Fail(AFileName, "no stream parameters");
  Output.Begin();

  auto Send = [&](AVCodecContext* AEnc, AVFrame* AFrame) {
    int Err = av::avcodec_send_frame(AEnc, AFrame);
    if (Err < 0) Fail(AFileName, "cannot encode", Err);
    AVPacket* Packet = Output.Packet.get();
    while ((Err = av::avcodec_receive_packet(AEnc, Packet)) >= 0) {
      Output.Write(Packet, Stream, AEnc->time_base);
      av::av_packet_unref(Packet);
    }
    if (Err != AVERROR(EAGAIN) && Err != AVERROR_EOF) Fail(AFileName, "cannot encode", Err);
  };
  int64_t Pts = 0;
  auto EncodePart = [&](AVCodecContext* AEnc) {
    for (int I = 0; I < AFrames; ++I, ++Pts) {
      TFramePtr Frame(av::av_frame_alloc());
      if (!Frame) Fail(AFileName, "no frame");
      Frame->format = AV_PIX_FMT_YUV420P;
      Frame->width = AEnc->width;
      Frame->height = AEnc->height;
      if (av::av_frame_get_buffer(Frame.get(), 0) < 0) Fail(AFileName, "no picture buffer");
      for (int P = 0; P < 3; ++P) {
        const int H = P ? (AEnc->height + 1) / 2 : AEnc->height;
        const int W = P ? (AEnc->width + 1) / 2 : AEnc->width;
        for (int Y = 0; Y < H; ++Y)
          for (int X = 0; X < W; ++X)
            Frame->data[P][size_t(Y) * Frame->linesize[P] + X] =
                static_cast<uint8_t>(P ? 128 : 16 + (X + Y + 4 * Pts) % 200);
      }
      Frame->pts = Pts;
      Send(AEnc, Frame.get());
    }
    Send(AEnc, nullptr);
  };
  EncodePart(First.get());
  TCodecContextPtr Second = OpenEncoder(ASecondWidth, ASecondHeight);
  EncodePart(Second.get());
  Output.End();
}
