// The audio output path: conversion to the encoder's layout, rate and sample format,
// synchronisation with the input clock, framing through the FIFO, and encoding.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "FFmpegRun.h"
#include "MyUtils.h"

namespace {

// Silence inserted for one block never takes it beyond this many bytes of
// interleaved 16-bit input.
constexpr int MaxPaddedBlockBytes = 131072;

}  // namespace

int TCustomFFmpeg::LeadInSamples(const InputStream& AIst, int ARate, int ASamples) const {
  const int64_t Target = InputSeekTargets[AIst.FileIndex];
  if (Target == NoPtsValue || AIst.Pts >= Target) return 0;
  const int64_t Samples = ((Target - AIst.Pts) * ARate + 500000) / 1000000;
  return static_cast<int>(std::min<int64_t>(Samples, ASamples));
}

void TCustomFFmpeg::DoAudioOut(AVFormatContext*, OutputStream& AOst, InputStream& AIst, AVFrame* AFrame) {
  AVCodecContext* Enc = AOst.Encoder;
  const int InChannels = AFrame->ch_layout.nb_channels;
  const int InRate = AFrame->sample_rate;
  const AVSampleFormat InFormat = static_cast<AVSampleFormat>(AFrame->format);
  if (InChannels <= 0 || InRate <= 0) return;
  if (InChannels != Enc->ch_layout.nb_channels) AOst.AudioResample = true;
  const bool Convert = AOst.AudioResample || InFormat != Enc->sample_fmt;

  // One resampler does rate, layout and format; a change of the input makes a new one.
  if (Convert && (!AOst.Resample || AOst.ResampleInFormat != InFormat || AOst.ResampleInRate != InRate ||
                  AOst.ResampleInChannels != InChannels)) {
    AVChannelLayout InLayout{};
    if (AFrame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      av::av_channel_layout_default(&InLayout, InChannels);
    else
      av::av_channel_layout_copy(&InLayout, &AFrame->ch_layout);
    SwrContext* Raw = nullptr;
    const int Err = av::swr_alloc_set_opts2(&Raw, &Enc->ch_layout, Enc->sample_fmt, Enc->sample_rate, &InLayout,
                                            InFormat, InRate, 0, nullptr);
    av::av_channel_layout_uninit(&InLayout);
    AOst.Resample.reset(Raw);
    if (Err < 0 || av::swr_init(Raw) < 0) {
      AOst.Resample.reset();
      Fail(FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", InChannels, InRate,
                      Enc->ch_layout.nb_channels, Enc->sample_rate));
    }
    AOst.ResampleInFormat = InFormat;
    AOst.ResampleInRate = InRate;
    AOst.ResampleInChannels = InChannels;
  }

  // A start-position seek lands on an earlier key point: what lies before the asked
  // position is decoded but not heard.
  int SkipSamples = LeadInSamples(AIst, InRate, AFrame->nb_samples);
  if (SkipSamples >= AFrame->nb_samples) return;
  int InSamples = AFrame->nb_samples - SkipSamples;
  const double Ipts = static_cast<double>(AOst.SyncIst->Pts - StartTime) / 1000000.0 +
                      static_cast<double>(SkipSamples) / InRate;
  // The main loop ends a recording time once the muxed output reaches it, which the
  // encoder's latency makes late; the samples beyond it are not taken in.
  if (RecordingTime != INT64_MAX) {
    const double Left = static_cast<double>(RecordingTime) / 1000000.0 - Ipts;
    if (Left <= 0) return;
    InSamples = static_cast<int>(std::min<int64_t>(InSamples, std::llround(Left * InRate)));
    if (InSamples <= 0) return;
  }
  const int Queued = av::av_audio_fifo_size(AOst.Fifo.get());
  if (AudioSyncMethod != 0) {
    const double Delta = Enc->sample_rate * Ipts - AOst.SyncOpts - Queued;
    const int64_t InDelta = static_cast<int64_t>(Delta * InRate / Enc->sample_rate);
    if (std::fabs(Delta) > 50) {
      if (AIst.IsStart || std::fabs(Delta) > Enc->sample_rate * AudioDriftThreshold) {
        if (InDelta < 0) {
          const int Drop = static_cast<int>(std::min<int64_t>(-InDelta, InSamples));
          SkipSamples += Drop;
          InSamples -= Drop;
          if (Verbose > 2) Log(1, FormatText("discarding %d audio samples", static_cast<int>(-Delta)));
          if (InSamples == 0) return;
          AIst.IsStart = false;
        } else {
          const int64_t BlockBytes = static_cast<int64_t>(InSamples) * 2 * InChannels;
          int64_t PadBytes = InDelta * 2 * InChannels;
          if (BlockBytes + PadBytes <= MaxPaddedBlockBytes)
            AIst.IsStart = false;
          else
            PadBytes = std::max<int64_t>(0, MaxPaddedBlockBytes - BlockBytes);
          const int64_t PadOut = PadBytes / (2 * InChannels) * Enc->sample_rate / InRate;
          if (PadOut > 0) {
            if (!AOst.Silence.Reserve(static_cast<int>(PadOut), Enc->ch_layout.nb_channels, Enc->sample_fmt))
              Fail("av_malloc failed");
            av::av_samples_set_silence(AOst.Silence.Planes(), 0, static_cast<int>(PadOut), Enc->ch_layout.nb_channels,
                                       Enc->sample_fmt);
            if (av::av_audio_fifo_write(AOst.Fifo.get(), reinterpret_cast<void**>(AOst.Silence.Planes()),
                                        static_cast<int>(PadOut)) < 0)
              Fail("av_fifo_realloc2() failed");
          }
          if (Verbose > 2) Log(1, FormatText("adding %d audio samples of silence", static_cast<int>(Delta)));
        }
      } else if (AudioSyncMethod > 1 && AOst.Resample) {
        const int Comp = std::clamp(static_cast<int>(Delta), -AudioSyncMethod, AudioSyncMethod);
        if (Verbose > 2)
          Log(1, FormatText("compensating audio timestamp drift:%.2f compensation:%d in:%d", Delta, Comp,
                            Enc->sample_rate));
        av::swr_set_compensation(AOst.Resample.get(), Comp, Enc->sample_rate);
      }
    }
  } else {
    AOst.SyncOpts = std::llround(Enc->sample_rate * Ipts) - Queued;
  }

  // The block's data from the first kept sample on.
  const bool Planar = av::av_sample_fmt_is_planar(InFormat);
  const int BytesPerSample = av::av_get_bytes_per_sample(InFormat);
  std::vector<const uint8_t*>& In = AOst.InPlanes;  // kept: no allocation per block
  In.resize(Planar ? InChannels : 1);
  for (size_t P = 0; P < In.size(); ++P)
    In[P] = AFrame->extended_data[P] + static_cast<size_t>(SkipSamples) * BytesPerSample * (Planar ? 1 : InChannels);

  int Written;
  if (Convert) {
    const int Capacity = av::swr_get_out_samples(AOst.Resample.get(), InSamples);
    if (Capacity < 0) Fail("av_malloc failed");
    if (!AOst.Converted.Reserve(std::max(Capacity, 1), Enc->ch_layout.nb_channels, Enc->sample_fmt))
      Fail("av_malloc failed");
    uint8_t** Out = AOst.Converted.Planes();
    const int Got = av::swr_convert(AOst.Resample.get(), Out, Capacity, In.data(), InSamples);
    Written = Got > 0 ? av::av_audio_fifo_write(AOst.Fifo.get(), reinterpret_cast<void**>(Out), Got) : 0;
    if (Got < 0) {
      if (ExitOnError) Fail("av_audio_convert() failed");
      Log(0, "av_audio_convert() failed");
      return;
    }
  } else {
    Written = av::av_audio_fifo_write(AOst.Fifo.get(), reinterpret_cast<void**>(const_cast<uint8_t**>(In.data())),
                                      InSamples);
  }
  if (Written < 0) Fail("av_fifo_realloc2() failed");

  // Frame-based encoders get exactly their frame size; the others all there is.
  const bool Variable = Enc->frame_size <= 1 || (Enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  const int FrameSize = Variable ? av::av_audio_fifo_size(AOst.Fifo.get()) : Enc->frame_size;
  AVFrame* Frame = AOst.EncoderFrame.get();
  while (FrameSize > 0 && av::av_audio_fifo_size(AOst.Fifo.get()) >= FrameSize) {
    av::av_frame_unref(Frame);
    Frame->nb_samples = FrameSize;
    Frame->format = Enc->sample_fmt;
    Frame->sample_rate = Enc->sample_rate;
    av::av_channel_layout_copy(&Frame->ch_layout, &Enc->ch_layout);
    if (av::av_frame_get_buffer(Frame, 0) < 0) Fail("av_malloc failed");
    av::av_audio_fifo_read(AOst.Fifo.get(), reinterpret_cast<void**>(Frame->extended_data), FrameSize);
    Frame->pts = AOst.SyncOpts;
    AOst.SyncOpts += FrameSize;
    EncodeAudioFrame(AOst, Frame);
  }
}

void TCustomFFmpeg::EncodeAudioFrame(OutputStream& AOst, AVFrame* AFrame) {
  if (av::avcodec_send_frame(AOst.Encoder, AFrame) < 0)
    Fail(FormatText("Error while encoding audio for output stream #%d.%d", AOst.FileIndex, AOst.Index));
  DrainEncoder(AOst, false);
}

// Writes every packet the encoder has ready; at the end of input the encoder is told
// so first and gives what it still holds.
void TCustomFFmpeg::DrainEncoder(OutputStream& AOst, bool AEndOfInput) {
  AVCodecContext* Enc = AOst.Encoder;
  if (AEndOfInput && av::avcodec_send_frame(Enc, nullptr) < 0) return;
  AVPacket* Packet = AOst.EncodedPacket.get();
  for (;;) {
    const int Ret = av::avcodec_receive_packet(Enc, Packet);
    if (Ret == AVERROR(EAGAIN) || Ret == AVERROR_EOF) return;
    if (Ret < 0) Fail(FormatText("Error while encoding output stream #%d.%d", AOst.FileIndex, AOst.Index));
    Packet->stream_index = AOst.Index;
    av::av_packet_rescale_ts(Packet, Enc->time_base, AOst.St->time_base);
    if (Enc->codec_type == AVMEDIA_TYPE_AUDIO) {
      AudioSize += Packet->size;
      Packet->flags |= AV_PKT_FLAG_KEY;
    }
    WriteFrame(OutputFiles[AOst.FileIndex].get(), Packet, Enc, AOst);
    av::av_packet_unref(Packet);
  }
}
