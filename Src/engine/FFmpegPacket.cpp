// One input packet: decoding, the input clock, volume and rate emulation, the
// dispatch to every output stream it feeds, stream copy, and the packet writer.
#include <algorithm>
#include <cmath>
#include <limits>

#include "FFmpegRun.h"
#include "MyUtils.h"

namespace {

constexpr AVRational MicroSeconds{1, 1000000};

template <class T>
T Clamp(int64_t AValue) {
  return static_cast<T>(std::clamp<int64_t>(AValue, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// The gain AVolume / 256 on every sample; integers round towards minus infinity as
// an arithmetic shift does, and every format saturates instead of wrapping.
void ApplyVolume(AVFrame* AFrame, int AVolume) {
  const AVSampleFormat Format = static_cast<AVSampleFormat>(AFrame->format);
  const bool Planar = av::av_sample_fmt_is_planar(Format);
  const int Channels = AFrame->ch_layout.nb_channels;
  const int Planes = Planar ? Channels : 1;
  const int Count = AFrame->nb_samples * (Planar ? 1 : Channels);
  const double Gain = AVolume / 256.0;
  for (int P = 0; P < Planes; ++P) {
    uint8_t* Data = AFrame->extended_data[P];
    for (int I = 0; I < Count; ++I) switch (Format) {
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P: {
          int16_t& S = reinterpret_cast<int16_t*>(Data)[I];
          S = Clamp<int16_t>((static_cast<int64_t>(S) * AVolume + 128) >> 8);
          break;
        }
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P: {
          int32_t& S = reinterpret_cast<int32_t*>(Data)[I];
          S = Clamp<int32_t>((static_cast<int64_t>(S) * AVolume + 128) >> 8);
          break;
        }
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P: {
          uint8_t& S = Data[I];
          S = static_cast<uint8_t>(Clamp<int8_t>(((static_cast<int64_t>(S) - 128) * AVolume + 128) >> 8) + 128);
          break;
        }
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP: {
          float& S = reinterpret_cast<float*>(Data)[I];
          S = std::clamp(static_cast<float>(S * Gain), -1.0f, 1.0f);
          break;
        }
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_DBLP: {
          double& S = reinterpret_cast<double*>(Data)[I];
          S = std::clamp(S * Gain, -1.0, 1.0);
          break;
        }
        default: return;
      }
  }
}

}  // namespace

int TCustomFFmpeg::OutputPacket(InputStream& AIst, int AIstIndex, const AVPacket* APacket) {
  if (AIst.NextPts == NoPtsValue) AIst.NextPts = AIst.Pts;
  if (APacket && APacket->dts != NoPtsValue)
    AIst.Pts = AIst.NextPts = av::av_rescale_q(APacket->dts, AIst.St->time_base, MicroSeconds);

  const AVMediaType Type = AIst.St->codecpar->codec_type;
  if (AIst.DecodingNeeded && Type == AVMEDIA_TYPE_VIDEO) {
    if (DecodeVideo(AIst, AIstIndex, APacket) < 0) return -1;
  } else if (AIst.DecodingNeeded && Type == AVMEDIA_TYPE_SUBTITLE) {
    if (DecodeSubtitle(AIst, AIstIndex, APacket) < 0) return -1;
  } else if (AIst.DecodingNeeded) {
    if (Type != AVMEDIA_TYPE_AUDIO) return -1;
    AVCodecContext* Dec = AIst.Decoder;
    if (av::avcodec_send_packet(Dec, APacket) < 0 && APacket) return -1;
    int Frames = 0;
    for (;;) {
      AVFrame* Frame = AIst.Decoded.get();
      const int Ret = av::avcodec_receive_frame(Dec, Frame);
      if (Ret == AVERROR(EAGAIN) || Ret == AVERROR_EOF) break;
      if (Ret < 0) return -1;
      AIst.Pts = AIst.NextPts;
      if (++Frames == 2 && APacket && Verbose > 0)
        Log(0, FormatText("Multiple frames in a packet from stream %d", APacket->stream_index));
      if (Frame->sample_rate > 0)
        AIst.NextPts += static_cast<int64_t>(Frame->nb_samples) * 1000000 / Frame->sample_rate;
      if (AudioVolume != 256) ApplyVolume(Frame, AudioVolume);
      DispatchAudio(AIst, AIstIndex, Frame);
      av::av_frame_unref(Frame);
    }
  } else if (APacket) {
    // A copied stream's clock moves by the packet's own duration.
    AIst.Pts = AIst.NextPts;
    if (APacket->duration > 0)
      AIst.NextPts += av::av_rescale_q(APacket->duration, AIst.St->time_base, MicroSeconds);
    else if (Type == AVMEDIA_TYPE_AUDIO && AIst.St->codecpar->frame_size > 0 && AIst.St->codecpar->sample_rate > 0)
      AIst.NextPts += static_cast<int64_t>(AIst.St->codecpar->frame_size) * 1000000 / AIst.St->codecpar->sample_rate;
    else if (Type == AVMEDIA_TYPE_VIDEO && AIst.St->avg_frame_rate.num > 0)
      AIst.NextPts += av::av_rescale_q(1, av_inv_q(AIst.St->avg_frame_rate), MicroSeconds);
  }

  if (AIst.RateEmu) {
    // Read no faster than the input plays: its clock against the wall clock.
    const int64_t Ahead = AIst.Pts - (av::av_gettime() - AIst.Start);
    if (Ahead > 50000) Platform::SleepMs(Ahead / 1000);
    ++AIst.Frame;
  }

  if (APacket && (StartTime == 0 || AIst.Pts >= StartTime))
    for (auto& Ost : RunTables->OutputStreams)
      if (Ost->SourceIndex == AIstIndex && !Ost->EncodingNeeded) CopyPacket(AIst, *Ost, APacket);
  if (!APacket) FlushEncoders(AIstIndex);
  return 0;
}

void TCustomFFmpeg::DispatchAudio(InputStream& AIst, int AIstIndex, AVFrame* AFrame) {
  if (StartTime != 0 && AIst.Pts < StartTime) return;
  for (auto& Ost : RunTables->OutputStreams)
    if (Ost->SourceIndex == AIstIndex && Ost->EncodingNeeded) {
      if (Ost->Encoder->codec_type != AVMEDIA_TYPE_AUDIO) throw FFMpegException("invalid codec_type");
      DoAudioOut(OutputFiles[Ost->FileIndex].get(), *Ost, AIst, AFrame);
    }
}

namespace {

// How long a decoded picture lasts: its packet's duration, else one frame of the
// stream's rate.
int64_t PictureDurationUs(const InputStream& AIst, const AVFrame* APicture) {
  if (APicture->pkt_duration > 0) return av::av_rescale_q(APicture->pkt_duration, AIst.St->time_base, MicroSeconds);
  for (const AVRational Rate : {AIst.St->avg_frame_rate, AIst.St->r_frame_rate, AIst.Decoder->framerate})
    if (Rate.num > 0 && Rate.den > 0) return av::av_rescale_q(1, av_inv_q(Rate), MicroSeconds);
  return 0;
}

}  // namespace

int TCustomFFmpeg::DecodeVideo(InputStream& AIst, int AIstIndex, const AVPacket* APacket) {
  AVCodecContext* Dec = AIst.Decoder;
  if (av::avcodec_send_packet(Dec, APacket) < 0 && APacket) return -1;
  AVFrame* Decoded = AIst.Decoded.get();
  for (;;) {
    const int Ret = av::avcodec_receive_frame(Dec, Decoded);
    if (Ret == AVERROR(EAGAIN) || Ret == AVERROR_EOF) return 0;
    if (Ret < 0) return -1;
    AIst.Quality = static_cast<float>(Decoded->quality);
    AIst.Pts = AIst.NextPts;
    AIst.NextPts += PictureDurationUs(AIst, Decoded);
    AVFrame* Picture = Decoded;
    PreProcessVideoFrame(AIst, Picture);
    if (StartTime == 0 || AIst.Pts >= StartTime)
      for (auto& Ost : RunTables->OutputStreams)
        if (Ost->SourceIndex == AIstIndex && Ost->EncodingNeeded) {
          if (Ost->Encoder->codec_type != AVMEDIA_TYPE_VIDEO) throw FFMpegException("invalid codec_type");
          DoVideoOut(OutputFiles[Ost->FileIndex].get(), *Ost, AIst, Picture);
        }
    av::av_frame_unref(Decoded);
  }
}

int TCustomFFmpeg::DecodeSubtitle(InputStream& AIst, int AIstIndex, const AVPacket* APacket) {
  // Subtitle decoders that hold events back are rare; the end of input has nothing to give.
  if (!APacket) return 0;
  AIst.Pts = AIst.NextPts;
  TSubtitle Subtitle;
  int Got = 0;
  if (av::avcodec_decode_subtitle2(AIst.Decoder, Subtitle.Get(), &Got, const_cast<AVPacket*>(APacket)) < 0) return -1;
  if (!Got) return 0;
  if (StartTime == 0 || AIst.Pts >= StartTime)
    for (auto& Ost : RunTables->OutputStreams)
      if (Ost->SourceIndex == AIstIndex && Ost->EncodingNeeded) {
        if (Ost->Encoder->codec_type != AVMEDIA_TYPE_SUBTITLE) throw FFMpegException("invalid codec_type");
        DoSubtitleOut(OutputFiles[Ost->FileIndex].get(), *Ost, AIst, Subtitle.Get(), APacket->pts);
      }
  return 0;
}

void TCustomFFmpeg::CopyPacket(InputStream& AIst, OutputStream& AOst, const AVPacket* APacket) {
  // Copies start at the first key frame.
  if (AOst.FrameNumber == 0 && !(APacket->flags & AV_PKT_FLAG_KEY)) return;
  const AVMediaType Type = AIst.St->codecpar->codec_type;
  if (Type == AVMEDIA_TYPE_AUDIO) AudioSize += APacket->size;
  if (Type == AVMEDIA_TYPE_VIDEO) {
    VideoSize += APacket->size;
    ++AOst.SyncOpts;
  }
  AVPacket* Out = RunTables->CopyPacket.get();
  if (av::av_packet_ref(Out, APacket) < 0) throw FFMpegException("av_malloc fail");
  const AVRational In = AIst.St->time_base, OutTb = AOst.St->time_base;
  Out->stream_index = AOst.Index;
  Out->pts = APacket->pts != NoPtsValue ? av::av_rescale_q(APacket->pts, In, OutTb) : NoPtsValue;
  Out->dts = APacket->dts != NoPtsValue ? av::av_rescale_q(APacket->dts, In, OutTb)
                                        : av::av_rescale_q(AIst.Pts, MicroSeconds, OutTb);
  Out->duration = av::av_rescale_q(APacket->duration, In, OutTb);
  Out->pos = -1;
  WriteFrame(OutputFiles[AOst.FileIndex].get(), Out, nullptr, AOst);
  av::av_packet_unref(Out);
  ++AOst.FrameNumber;
}

void TCustomFFmpeg::FlushEncoders(int AIstIndex) {
  for (auto& Ost : RunTables->OutputStreams) {
    if (Ost->SourceIndex != AIstIndex || !Ost->EncodingNeeded) continue;
    AVCodecContext* Enc = Ost->Encoder;
    if (Enc->codec_type == AVMEDIA_TYPE_SUBTITLE) continue;  // nothing is held back
    if (Enc->codec_type == AVMEDIA_TYPE_AUDIO) FlushAudioFifo(*Ost);
    if (Enc->codec_type == AVMEDIA_TYPE_VIDEO)
      DrainVideoEncoder(*Ost, true);
    else
      DrainEncoder(*Ost, true);
  }
}

void TCustomFFmpeg::FlushAudioFifo(OutputStream& AOst) {
  const int Left = av::av_audio_fifo_size(AOst.Fifo.get());
  // Only an encoder that takes a short last frame gets the remainder.
  if (Left > 0 &&
      (AOst.Encoder->codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)))
    EncodeFifoSamples(AOst, Left, "av_malloc fail");
}

// ---------------------------------------------------------------------------
// Packet writer

void TCustomFFmpeg::WriteFrame(AVFormatContext* AOutput, AVPacket* APacket, AVCodecContext* ACodec, OutputStream& AOst) {
  auto Write = [&](AVPacket* APkt) {
    const int64_t End = (APkt->pts != NoPtsValue ? APkt->pts : APkt->dts) + std::max<int64_t>(APkt->duration, 0);
    if (APkt->pts != NoPtsValue || APkt->dts != NoPtsValue) AOst.MuxedEnd = std::max(AOst.MuxedEnd, End);
    const int R = av::av_interleaved_write_frame(AOutput, APkt);
    if (R < 0) throw FFMpegException(FormatOpenError("av_interleaved_write_frame()", R));
  };
  if (AOst.BitstreamFilters.empty()) {
    Write(APacket);
    return;
  }
  // Each packet goes through the chain in order; a filter may give none, one or more.
  std::vector<TPacketPtr> Stage;
  Stage.emplace_back(av::av_packet_clone(APacket));
  for (TBsfContextPtr& Filter : AOst.BitstreamFilters) {
    std::vector<TPacketPtr> Next;
    for (TPacketPtr& Pkt : Stage) {
      TPacketPtr Kept(av::av_packet_clone(Pkt.get()));
      int A = av::av_bsf_send_packet(Filter.get(), Pkt.get());
      while (A >= 0) {
        TPacketPtr Got(av::av_packet_alloc());
        A = av::av_bsf_receive_packet(Filter.get(), Got.get());
        if (A >= 0) Next.push_back(std::move(Got));
      }
      if (A != AVERROR(EAGAIN) && A != AVERROR_EOF && A < 0) {
        if (OnLogHandler || ExitOnError) {
          const std::string Text =
              FormatText("%s failed for stream %d, codec %s", Filter->filter->name, Kept->stream_index,
                         ACodec && ACodec->codec ? ACodec->codec->name : "copy");
          const std::string Message = FormatOpenError(Text, A);
          if (ExitOnError) throw FFMpegException(Message);
          Log(0, Message);
        }
        Next.push_back(std::move(Kept));  // the next filter sees the packet unchanged
      }
    }
    Stage = std::move(Next);
  }
  for (TPacketPtr& Pkt : Stage) {
    Pkt->stream_index = AOst.Index;
    Write(Pkt.get());
  }
}
