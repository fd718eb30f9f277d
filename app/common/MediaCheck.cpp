#include "MediaCheck.h"

#include "AVCodecHlpr.h"
#include "AVFormatHlpr.h"
#include "AVHolders.h"
#include "AVUtilHlpr.h"

namespace {

// Receives every frame the decoder has ready; false on a decoding error.
bool CountFrames(AVCodecContext* ADecoder, AVFrame* AFrame, int64_t& ASamples) {
  for (;;) {
    const int Ret = av::avcodec_receive_frame(ADecoder, AFrame);
    if (Ret == AVERROR(EAGAIN) || Ret == AVERROR_EOF) return true;
    if (Ret < 0) return false;
    ASamples += AFrame->nb_samples;
    av::av_frame_unref(AFrame);
  }
}

}  // namespace

TDecodedSummary DecodeAudioSummary(const std::string& AFileName) {
  TDecodedSummary Summary;
  AVFormatContext* Raw = nullptr;
  if (av::avformat_open_input(&Raw, AFileName.c_str(), nullptr, nullptr) < 0) {
    Summary.Error = "cannot open " + AFileName;
    return Summary;
  }
  TInputContextPtr Input(Raw);
  if (av::avformat_find_stream_info(Input.get(), nullptr) < 0) {
    Summary.Error = "cannot read the streams of " + AFileName;
    return Summary;
  }
  const int Index = av::av_find_best_stream(Input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (Index < 0) {
    Summary.Error = AFileName + " has no audio stream";
    return Summary;
  }
  const AVCodecParameters* Par = Input->streams[Index]->codecpar;
  TCodecContextPtr Decoder(av::avcodec_alloc_context3(av::avcodec_find_decoder(Par->codec_id)));
  if (!Decoder || av::avcodec_parameters_to_context(Decoder.get(), Par) < 0 ||
      av::avcodec_open2(Decoder.get(), Decoder->codec, nullptr) < 0) {
    Summary.Error = "no decoder for " + AFileName;
    return Summary;
  }
  TPacketPtr Packet(av::av_packet_alloc());
  TFramePtr Frame(av::av_frame_alloc());
  int64_t Samples = 0;
  bool Good = true;
  while (Good && av::av_read_frame(Input.get(), Packet.get()) >= 0) {
    if (Packet->stream_index == Index)
      Good = av::avcodec_send_packet(Decoder.get(), Packet.get()) >= 0 && CountFrames(Decoder.get(), Frame.get(), Samples);
    av::av_packet_unref(Packet.get());
  }
  Good = Good && av::avcodec_send_packet(Decoder.get(), nullptr) >= 0 && CountFrames(Decoder.get(), Frame.get(), Samples);
  if (!Good) {
    Summary.Error = "decoding error in " + AFileName;
    return Summary;
  }
  Summary.Ok = true;
  Summary.SampleRate = Decoder->sample_rate;
  Summary.Channels = Decoder->ch_layout.nb_channels;
  Summary.Seconds = Summary.SampleRate > 0 ? static_cast<double>(Samples) / Summary.SampleRate : 0;
  Summary.BitRate = Par->bit_rate > 0 ? Par->bit_rate : Input->bit_rate;
  return Summary;
}
