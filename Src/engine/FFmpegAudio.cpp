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

TAudioBlock AudioBlockOf(const AVFrame* AFrame) {
  TAudioBlock Block;
  Block.Frame = AFrame;
  Block.Channels = AFrame->ch_layout.nb_channels;
  Block.Rate = AFrame->sample_rate;
  Block.Format = static_cast<AVSampleFormat>(AFrame->format);
  return Block;
}

}  // namespace

int TCustomFFmpeg::LeadInSamples(const InputStream& AIst, int ARate, int ASamples) const {
  const int64_t Target = InputSeekTargets[AIst.FileIndex];
  if (Target == NoPtsValue || AIst.Pts >= Target) return 0;
  const int64_t Samples = ((Target - AIst.Pts) * ARate + 500000) / 1000000;
  return static_cast<int>(std::min<int64_t>(Samples, ASamples));
}

void TCustomFFmpeg::DoAudioOut(AVFormatContext*, OutputStream& AOst, InputStream& AIst, AVFrame* AFrame) {
  TAudioBlock Block = AudioBlockOf(AFrame);
  if (Block.Channels <= 0 || Block.Rate <= 0) return;
  const bool Convert = NeedsAudioConversion(AOst, Block);
  if (Convert) PrepareResampler(AOst, Block);
  if (!SkipLeadIn(AOst, AIst, Block)) return;
  if (!CutAtRecordingTime(Block)) return;
  if (!SyncAudio(AOst, AIst, Block)) return;
  if (!QueueAudioBlock(AOst, Block, Convert)) return;
  EncodeQueuedAudio(AOst);
}

bool TCustomFFmpeg::NeedsAudioConversion(OutputStream& AOst, const TAudioBlock& ABlock) {
  const AVCodecContext* Enc = AOst.Encoder;
  if (ABlock.Channels != Enc->ch_layout.nb_channels) AOst.AudioResample = true;
  return AOst.AudioResample || ABlock.Format != Enc->sample_fmt;
}

// One resampler does rate, layout and format; a change of the input makes a new one.
void TCustomFFmpeg::PrepareResampler(OutputStream& AOst, const TAudioBlock& ABlock) {
  if (AOst.Resample && AOst.ResampleInFormat == ABlock.Format && AOst.ResampleInRate == ABlock.Rate &&
      AOst.ResampleInChannels == ABlock.Channels)
    return;
  AVCodecContext* Enc = AOst.Encoder;
  AVChannelLayout InLayout{};
  if (ABlock.Frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av::av_channel_layout_default(&InLayout, ABlock.Channels);
  else
    av::av_channel_layout_copy(&InLayout, &ABlock.Frame->ch_layout);
  SwrContext* Raw = nullptr;
  const int Err = av::swr_alloc_set_opts2(&Raw, &Enc->ch_layout, Enc->sample_fmt, Enc->sample_rate, &InLayout,
                                          ABlock.Format, ABlock.Rate, 0, nullptr);
  av::av_channel_layout_uninit(&InLayout);
  AOst.Resample.reset(Raw);
  if (Err < 0 || av::swr_init(Raw) < 0) {
    AOst.Resample.reset();
    Fail(FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", ABlock.Channels, ABlock.Rate,
                    Enc->ch_layout.nb_channels, Enc->sample_rate));
  }
  AOst.ResampleInFormat = ABlock.Format;
  AOst.ResampleInRate = ABlock.Rate;
  AOst.ResampleInChannels = ABlock.Channels;
}

// A start-position seek lands on an earlier key point: what lies before the asked
// position is decoded but not heard.
bool TCustomFFmpeg::SkipLeadIn(const OutputStream& AOst, const InputStream& AIst, TAudioBlock& ABlock) const {
  const int BlockSamples = ABlock.Frame->nb_samples;
  ABlock.Skip = LeadInSamples(AIst, ABlock.Rate, BlockSamples);
  if (ABlock.Skip >= BlockSamples) return false;
  ABlock.Samples = BlockSamples - ABlock.Skip;
  ABlock.Start = static_cast<double>(AOst.SyncIst->Pts - StartTime) / 1000000.0 +
                 static_cast<double>(ABlock.Skip) / ABlock.Rate;
  return true;
}

// The main loop ends a recording time once the muxed output reaches it, which the
// encoder's latency makes late; the samples beyond it are not taken in.
bool TCustomFFmpeg::CutAtRecordingTime(TAudioBlock& ABlock) const {
  if (RecordingTime == INT64_MAX) return true;
  const double Left = static_cast<double>(RecordingTime) / 1000000.0 - ABlock.Start;
  if (Left <= 0) return false;
  ABlock.Samples = static_cast<int>(std::min<int64_t>(ABlock.Samples, std::llround(Left * ABlock.Rate)));
  return ABlock.Samples > 0;
}

// Keeps the encoder's sample count in step with the input clock: without a sync
// method it follows the clock; with one, a large gap is closed by dropping samples or
// queueing silence (at the start, or past the drift threshold), a small one by the
// resampler's compensation. False when nothing of the block is left.
bool TCustomFFmpeg::SyncAudio(OutputStream& AOst, InputStream& AIst, TAudioBlock& ABlock) {
  const AVCodecContext* Enc = AOst.Encoder;
  const int Queued = av::av_audio_fifo_size(AOst.Fifo.get());
  if (AudioSyncMethod == 0) {
    AOst.SyncOpts = std::llround(Enc->sample_rate * ABlock.Start) - Queued;
    return true;
  }
  const double Delta = Enc->sample_rate * ABlock.Start - AOst.SyncOpts - Queued;
  if (!(std::fabs(Delta) > 50)) return true;
  if (AIst.IsStart || std::fabs(Delta) > Enc->sample_rate * AudioDriftThreshold) {
    const int64_t InDelta = static_cast<int64_t>(Delta * ABlock.Rate / Enc->sample_rate);
    if (InDelta < 0) return DropAudioSamples(AIst, ABlock, -InDelta, Delta);
    PadAudioWithSilence(AOst, AIst, ABlock, InDelta, Delta);
  } else if (AudioSyncMethod > 1 && AOst.Resample) {
    CompensateAudioDrift(AOst, Delta);
  }
  return true;
}

bool TCustomFFmpeg::DropAudioSamples(InputStream& AIst, TAudioBlock& ABlock, int64_t ASamples, double ADelta) {
  const int Drop = static_cast<int>(std::min<int64_t>(ASamples, ABlock.Samples));
  ABlock.Skip += Drop;
  ABlock.Samples -= Drop;
  if (Verbose > 2) Log(1, FormatText("discarding %d audio samples", static_cast<int>(-ADelta)));
  if (ABlock.Samples == 0) return false;
  AIst.IsStart = false;
  return true;
}

// ASamples input samples' worth of silence, as far as the block limit allows.
void TCustomFFmpeg::PadAudioWithSilence(OutputStream& AOst, InputStream& AIst, const TAudioBlock& ABlock,
                                        int64_t ASamples, double ADelta) {
  const AVCodecContext* Enc = AOst.Encoder;
  const int64_t BlockBytes = static_cast<int64_t>(ABlock.Samples) * 2 * ABlock.Channels;
  int64_t PadBytes = ASamples * 2 * ABlock.Channels;
  if (BlockBytes + PadBytes <= MaxPaddedBlockBytes)
    AIst.IsStart = false;
  else
    PadBytes = std::max<int64_t>(0, MaxPaddedBlockBytes - BlockBytes);
  const int64_t PadOut = PadBytes / (2 * ABlock.Channels) * Enc->sample_rate / ABlock.Rate;
  if (PadOut > 0) QueueSilence(AOst, static_cast<int>(PadOut));
  if (Verbose > 2) Log(1, FormatText("adding %d audio samples of silence", static_cast<int>(ADelta)));
}

void TCustomFFmpeg::QueueSilence(OutputStream& AOst, int ASamples) {
  const AVCodecContext* Enc = AOst.Encoder;
  if (!AOst.Silence.Reserve(ASamples, Enc->ch_layout.nb_channels, Enc->sample_fmt)) Fail("av_malloc failed");
  av::av_samples_set_silence(AOst.Silence.Planes(), 0, ASamples, Enc->ch_layout.nb_channels, Enc->sample_fmt);
  if (av::av_audio_fifo_write(AOst.Fifo.get(), reinterpret_cast<void**>(AOst.Silence.Planes()), ASamples) < 0)
    Fail("av_fifo_realloc2() failed");
}

void TCustomFFmpeg::CompensateAudioDrift(OutputStream& AOst, double ADelta) {
  const int SampleRate = AOst.Encoder->sample_rate;
  const int Comp = std::clamp(static_cast<int>(ADelta), -AudioSyncMethod, AudioSyncMethod);
  if (Verbose > 2)
    Log(1, FormatText("compensating audio timestamp drift:%.2f compensation:%d in:%d", ADelta, Comp, SampleRate));
  av::swr_set_compensation(AOst.Resample.get(), Comp, SampleRate);
}

// The block from its first kept sample on goes into the FIFO, through the resampler
// when it needs converting. False when the resampler refused it and the run goes on.
bool TCustomFFmpeg::QueueAudioBlock(OutputStream& AOst, const TAudioBlock& ABlock, bool AConvert) {
  const AVCodecContext* Enc = AOst.Encoder;
  const bool Planar = av::av_sample_fmt_is_planar(ABlock.Format);
  const int BytesPerSample = av::av_get_bytes_per_sample(ABlock.Format);
  std::vector<const uint8_t*>& In = AOst.InPlanes;  // kept: no allocation per block
  In.resize(Planar ? ABlock.Channels : 1);
  for (size_t P = 0; P < In.size(); ++P)
    In[P] = ABlock.Frame->extended_data[P] +
            static_cast<size_t>(ABlock.Skip) * BytesPerSample * (Planar ? 1 : ABlock.Channels);

  int Written;
  if (AConvert) {
    const int Capacity = av::swr_get_out_samples(AOst.Resample.get(), ABlock.Samples);
    if (Capacity < 0) Fail("av_malloc failed");
    if (!AOst.Converted.Reserve(std::max(Capacity, 1), Enc->ch_layout.nb_channels, Enc->sample_fmt))
      Fail("av_malloc failed");
    uint8_t** Out = AOst.Converted.Planes();
    const int Got = av::swr_convert(AOst.Resample.get(), Out, Capacity, In.data(), ABlock.Samples);
    Written = Got > 0 ? av::av_audio_fifo_write(AOst.Fifo.get(), reinterpret_cast<void**>(Out), Got) : 0;
    if (Got < 0) {
      if (ExitOnError) Fail("av_audio_convert() failed");
      Log(0, "av_audio_convert() failed");
      return false;
    }
  } else {
    Written = av::av_audio_fifo_write(AOst.Fifo.get(), reinterpret_cast<void**>(const_cast<uint8_t**>(In.data())),
                                      ABlock.Samples);
  }
  if (Written < 0) Fail("av_fifo_realloc2() failed");
  return true;
}

// Frame-based encoders get exactly their frame size; the others all there is.
void TCustomFFmpeg::EncodeQueuedAudio(OutputStream& AOst) {
  const AVCodecContext* Enc = AOst.Encoder;
  const bool Variable = Enc->frame_size <= 1 || (Enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  const int FrameSize = Variable ? av::av_audio_fifo_size(AOst.Fifo.get()) : Enc->frame_size;
  while (FrameSize > 0 && av::av_audio_fifo_size(AOst.Fifo.get()) >= FrameSize)
    EncodeFifoSamples(AOst, FrameSize, "av_malloc failed");
}

void TCustomFFmpeg::EncodeFifoSamples(OutputStream& AOst, int ASamples, const char* AAllocFailure) {
  const AVCodecContext* Enc = AOst.Encoder;
  AVFrame* Frame = AOst.EncoderFrame.get();
  av::av_frame_unref(Frame);
  Frame->nb_samples = ASamples;
  Frame->format = Enc->sample_fmt;
  Frame->sample_rate = Enc->sample_rate;
  av::av_channel_layout_copy(&Frame->ch_layout, &Enc->ch_layout);
  if (av::av_frame_get_buffer(Frame, 0) < 0) Fail(AAllocFailure);
  av::av_audio_fifo_read(AOst.Fifo.get(), reinterpret_cast<void**>(Frame->extended_data), ASamples);
  Frame->pts = AOst.SyncOpts;
  AOst.SyncOpts += ASamples;
  EncodeAudioFrame(AOst, Frame);
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
