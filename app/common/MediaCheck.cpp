#include "MediaCheck.h"

#include <functional>

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

// The first audio stream of a file, opened with its decoder.
struct TAudioReader {
  TInputContextPtr Input;
  TCodecContextPtr Decoder;
  int Index = -1;

  bool Open(const std::string& AFileName, std::string& AError) {
    AVFormatContext* Raw = nullptr;
    if (av::avformat_open_input(&Raw, AFileName.c_str(), nullptr, nullptr) < 0) {
      AError = "cannot open " + AFileName;
      return false;
    }
    Input.reset(Raw);
    if (av::avformat_find_stream_info(Input.get(), nullptr) < 0) {
      AError = "cannot read the streams of " + AFileName;
      return false;
    }
    Index = av::av_find_best_stream(Input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (Index < 0) {
      AError = AFileName + " has no audio stream";
      return false;
    }
    const AVCodecParameters* Par = Input->streams[Index]->codecpar;
    Decoder.reset(av::avcodec_alloc_context3(av::avcodec_find_decoder(Par->codec_id)));
    if (!Decoder || av::avcodec_parameters_to_context(Decoder.get(), Par) < 0 ||
        av::avcodec_open2(Decoder.get(), Decoder->codec, nullptr) < 0) {
      AError = "no decoder for " + AFileName;
      return false;
    }
    return true;
  }

  // Decodes to the end, or until AEnough says so; false on a decoding error.
  bool Decode(int64_t& ASamples, const std::function<bool(int64_t)>& AEnough) {
    TPacketPtr Packet(av::av_packet_alloc());
    TFramePtr Frame(av::av_frame_alloc());
    bool Good = true;
    while (Good && !AEnough(ASamples) && av::av_read_frame(Input.get(), Packet.get()) >= 0) {
      if (Packet->stream_index == Index)
        Good = av::avcodec_send_packet(Decoder.get(), Packet.get()) >= 0 &&
               CountFrames(Decoder.get(), Frame.get(), ASamples);
      av::av_packet_unref(Packet.get());
    }
    if (!Good || AEnough(ASamples)) return Good;
    return av::avcodec_send_packet(Decoder.get(), nullptr) >= 0 && CountFrames(Decoder.get(), Frame.get(), ASamples);
  }
};

}  // namespace

TDecodedSummary DecodeAudioSummary(const std::string& AFileName) {
  TDecodedSummary Summary;
  TAudioReader Reader;
  if (!Reader.Open(AFileName, Summary.Error)) return Summary;
  int64_t Samples = 0;
  if (!Reader.Decode(Samples, [](int64_t) { return false; })) {
    Summary.Error = "decoding error in " + AFileName;
    return Summary;
  }
  const AVCodecParameters* Par = Reader.Input->streams[Reader.Index]->codecpar;
  Summary.Ok = true;
  Summary.SampleRate = Reader.Decoder->sample_rate;
  Summary.Channels = Reader.Decoder->ch_layout.nb_channels;
  Summary.Seconds = Summary.SampleRate > 0 ? static_cast<double>(Samples) / Summary.SampleRate : 0;
  Summary.BitRate = Par->bit_rate > 0 ? Par->bit_rate : Reader.Input->bit_rate;
  return Summary;
}

bool HoldsAudio(const std::string& AFileName) {
  TAudioReader Reader;
  std::string Ignored;
  if (!Reader.Open(AFileName, Ignored)) return false;
  int64_t Samples = 0;
  Reader.Decode(Samples, [](int64_t ASamples) { return ASamples > 0; });
  return Samples > 0;
}
