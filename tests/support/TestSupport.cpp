#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "FFmpeg.h"

TTempDir::TTempDir() {
  std::string Pattern = (std::filesystem::temp_directory_path() / "pemmet-test-XXXXXX").string();
  if (!mkdtemp(Pattern.data())) throw std::runtime_error("mkdtemp failed");
  FPath = Pattern;
}

TTempDir::~TTempDir() {
  std::error_code Ignored;
  std::filesystem::remove_all(FPath, Ignored);
}

void WriteTextFile(const std::string& AFileName, const std::string& AContent) {
  std::ofstream Out(AFileName, std::ios::binary);
  Out << AContent;
}

void LoadSystemLibraries() {
  ASSERT_TRUE(LoadAVLibs("", true)) << AVLibsError();
}

void WriteToneWav(const std::string& AFileName, double ASeconds, int ASampleRate, int AChannels,
                  double AFrequency) {
  AVFormatContext* Raw = nullptr;
  if (av::avformat_alloc_output_context2(&Raw, nullptr, "wav", AFileName.c_str()) < 0 || !Raw)
    throw std::runtime_error("no wav muxer");
  TFormatContextPtr Output(Raw);
  AVStream* Stream = av::avformat_new_stream(Output.get(), nullptr);
  Stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  Stream->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
  Stream->codecpar->sample_rate = ASampleRate;
  av::av_channel_layout_default(&Stream->codecpar->ch_layout, AChannels);
  Stream->codecpar->bits_per_coded_sample = 16;
  Stream->codecpar->block_align = 2 * AChannels;
  Stream->codecpar->bit_rate = int64_t(ASampleRate) * AChannels * 16;
  Stream->time_base = AVRational{1, ASampleRate};
  if (av::avio_open(&Output->pb, AFileName.c_str(), AVIO_FLAG_WRITE) < 0)
    throw std::runtime_error("cannot create " + AFileName);
  if (av::avformat_write_header(Output.get(), nullptr) < 0) throw std::runtime_error("wav header");

  const int64_t Total = static_cast<int64_t>(ASeconds * ASampleRate);
  const int Chunk = 1024;
  TPacketPtr Packet(av::av_packet_alloc());
  std::vector<int16_t> Samples;
  for (int64_t First = 0; First < Total; First += Chunk) {
    const int Count = static_cast<int>(std::min<int64_t>(Chunk, Total - First));
    Samples.resize(size_t(Count) * AChannels);
    for (int I = 0; I < Count; ++I) {
      const double T = double(First + I) / ASampleRate;
      const auto Value = static_cast<int16_t>(std::lround(12000.0 * std::sin(2 * M_PI * AFrequency * T)));
      for (int C = 0; C < AChannels; ++C) Samples[size_t(I) * AChannels + C] = Value;
    }
    Packet->data = reinterpret_cast<uint8_t*>(Samples.data());
    Packet->size = static_cast<int>(Samples.size() * sizeof(int16_t));
    Packet->stream_index = Stream->index;
    Packet->pts = Packet->dts = av::av_rescale_q(First, AVRational{1, ASampleRate}, Stream->time_base);
    Packet->duration = Count;
    if (av::av_write_frame(Output.get(), Packet.get()) < 0) throw std::runtime_error("wav write");
  }
  Packet->data = nullptr;
  Packet->size = 0;
  av::av_write_trailer(Output.get());
  av::avio_closep(&Output->pb);
}
