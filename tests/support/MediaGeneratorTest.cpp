// The generator's own safety net: each kind of file it makes is opened again and
// must hold what was asked for.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "FFmpeg.h"
#include "MediaGenerator.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

// An input opened with its stream information read.
TInputContextPtr OpenMedia(const std::string& AFileName) {
  AVFormatContext* Raw = nullptr;
  if (av::avformat_open_input(&Raw, AFileName.c_str(), nullptr, nullptr) < 0) return nullptr;
  TInputContextPtr Input(Raw);
  if (av::avformat_find_stream_info(Input.get(), nullptr) < 0) return nullptr;
  return Input;
}

std::string CodecOf(const AVStream* AStream) { return av::avcodec_get_name(AStream->codecpar->codec_id); }

double SecondsOf(const AVFormatContext* AInput) { return AInput->duration / double(AV_TIME_BASE); }

class MediaGenerator : public ::testing::Test {
protected:
  void SetUp() override { LoadSystemLibraries(); }
  TTempDir Dir;
};

struct TToneCase {
  const char* Name;
  const char* Format;
  std::string Codec;
  int SampleRate;
  int Channels;
  double Seconds;
  std::vector<double> Frequencies;
  const char* DecodedCodec;
  double Tolerance;  // seconds: about two of the encoder's frames
};

TEST_F(MediaGenerator, TonesAndChordsHaveTheAskedParameters) {
  const std::string Vorbis = VorbisEncoderName();
  const std::vector<double> Chord{261.63, 329.63, 392.0};
  const TToneCase Cases[] = {
      {"tone.ogg", "ogg", Vorbis, 44100, 2, 1.0, {440.0}, "vorbis", 0.05},
      {"chord.ogg", "ogg", Vorbis, 22050, 1, 0.5, Chord, "vorbis", 0.05},
      // Four channels, not six: libvorbis's own 5.1 set-up leaks a block.
      {"quad.ogg", "ogg", Vorbis, 48000, 4, 0.5, Chord, "vorbis", 0.05},
      {"chord.flac", "flac", "flac", 48000, 1, 1.0, Chord, "flac", 0.2},
      {"surround.flac", "flac", "flac", 44100, 6, 0.5, Chord, "flac", 0.2},
      {"tone.flac", "flac", "flac", 8000, 2, 0.7, {1000.0}, "flac", 0.2},
      {"tone.wav", "wav", "pcm_s16le", 16000, 1, 0.7, {440.0}, "pcm_s16le", 0.01},
      {"chord.wav", "wav", "pcm_s16le", 44100, 2, 1.0, Chord, "pcm_s16le", 0.01},
      {"tone.mp2", "mp2", "mp2", 48000, 2, 1.0, {440.0}, "mp2", 0.06},
      {"chord.mp2", "mp2", "mp2", 22050, 1, 0.5, Chord, "mp2", 0.12},
  };
  for (const TToneCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const std::string FileName = Dir.File(Case.Name);
    MakeTone({FileName, Case.Format, Case.Codec, Case.SampleRate, Case.Channels, Case.Seconds, Case.Frequencies, 0});
    TInputContextPtr Input = OpenMedia(FileName);
    ASSERT_TRUE(Input);
    ASSERT_EQ(Input->nb_streams, 1u);
    const AVCodecParameters* Par = Input->streams[0]->codecpar;
    EXPECT_EQ(Par->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(CodecOf(Input->streams[0]), Case.DecodedCodec);
    EXPECT_EQ(Par->sample_rate, Case.SampleRate);
    EXPECT_EQ(Par->ch_layout.nb_channels, Case.Channels);
    EXPECT_NEAR(SecondsOf(Input.get()), Case.Seconds, Case.Tolerance);
  }
}

TEST_F(MediaGenerator, WavHoldsExactlyTheToneSamples) {
  const std::string FileName = Dir.File("chord.wav");
  const std::vector<double> Chord{300.0, 500.0};
  MakeTone({FileName, "wav", "pcm_s16le", 8000, 2, 0.5, Chord, 0});
  const TDecodedAudio Audio = DecodeAudio(FileName);
  ASSERT_EQ(Audio.Channels, 2);
  ASSERT_EQ(Audio.Frames(), 4000);
  for (int64_t I = 0; I < Audio.Frames(); ++I) {
    const double Expected = std::lround(32767.0 * ToneSample(Chord, I, 8000)) / 32768.0;
    ASSERT_DOUBLE_EQ(Audio.Samples[2 * I], Expected) << "sample " << I;
    ASSERT_DOUBLE_EQ(Audio.Samples[2 * I + 1], Expected) << "sample " << I;
  }
}

// Vorbis takes planar floats, unlike the other encoders: a fault in that path would
// give noise or a silent channel, not a wrong header.
TEST_F(MediaGenerator, VorbisDecodesBackToTheTone) {
  const std::string FileName = Dir.File("tone.ogg");
  const std::vector<double> Tone{440.0};
  MakeTone({FileName, "ogg", VorbisEncoderName(), 44100, 2, 1.0, Tone, 0});
  const TDecodedAudio Audio = DecodeAudio(FileName);
  ASSERT_EQ(Audio.Channels, 2);
  ASSERT_GT(Audio.Frames(), 40000);
  for (int C = 0; C < 2; ++C) {
    double Dot = 0, Source = 0, Decoded = 0;
    for (int64_t I = 0; I < std::min<int64_t>(Audio.Frames(), 44100); ++I) {
      const double S = ToneSample(Tone, I, 44100), D = Audio.Samples[2 * I + C];
      Dot += S * D;
      Source += S * S;
      Decoded += D * D;
    }
    EXPECT_GT(Dot / std::sqrt(Source * Decoded), 0.95) << "channel " << C;
  }
}

TEST_F(MediaGenerator, VideoWithAudioInAviAndMatroska) {
  for (const char* Format : {"avi", "matroska"}) {
    SCOPED_TRACE(Format);
    const std::string FileName = Dir.File(std::string("clip.") + Format);
    TVideoSpec Spec;
    Spec.FileName = FileName;
    Spec.Format = Format;
    Spec.Video.Width = 176;
    Spec.Video.Height = 144;
    MakeVideo(Spec);
    TInputContextPtr Input = OpenMedia(FileName);
    ASSERT_TRUE(Input);
    ASSERT_EQ(Input->nb_streams, 2u);
    const AVStream* Video = Input->streams[0];
    const AVStream* Audio = Input->streams[1];
    EXPECT_EQ(Video->codecpar->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(CodecOf(Video), "mpeg4");
    EXPECT_EQ(Video->codecpar->width, 176);
    EXPECT_EQ(Video->codecpar->height, 144);
    EXPECT_EQ(Video->r_frame_rate.num, 25);
    EXPECT_EQ(Video->r_frame_rate.den, 1);
    EXPECT_EQ(Audio->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(CodecOf(Audio), "mp2");
    EXPECT_EQ(Audio->codecpar->sample_rate, 44100);
    EXPECT_EQ(Audio->codecpar->ch_layout.nb_channels, 2);
    EXPECT_NEAR(SecondsOf(Input.get()), 1.0, 0.08);
  }
}

TEST_F(MediaGenerator, SubtitleTrackCarriesTheCues) {
  struct TCase {
    const char* Codec;
    const char* DecodedCodec;
  } Cases[] = {{"subrip", "subrip"}, {"ass", "ass"}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Codec);
    const std::string FileName = Dir.File(std::string("subtitled-") + Case.Codec + ".mkv");
    TSubtitledSpec Spec;
    Spec.FileName = FileName;
    Spec.Subtitle.Codec = Case.Codec;
    Spec.Subtitle.Language = "fre";
    MakeSubtitled(Spec);
    TInputContextPtr Input = OpenMedia(FileName);
    ASSERT_TRUE(Input);
    ASSERT_EQ(Input->nb_streams, 2u);
    EXPECT_EQ(Input->streams[0]->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
    const AVStream* Subtitle = Input->streams[1];
    EXPECT_EQ(Subtitle->codecpar->codec_type, AVMEDIA_TYPE_SUBTITLE);
    EXPECT_EQ(CodecOf(Subtitle), Case.DecodedCodec);
    const AVDictionaryEntry* Language = av::av_dict_get(Subtitle->metadata, "language", nullptr, 0);
    ASSERT_TRUE(Language);
    EXPECT_STREQ(Language->value, "fre");
    EXPECT_NEAR(SecondsOf(Input.get()), 1.5, 0.05);

    std::vector<std::string> Texts;
    TPacketPtr Packet(av::av_packet_alloc());
    while (av::av_read_frame(Input.get(), Packet.get()) >= 0) {
      if (Packet->stream_index == 1)
        Texts.emplace_back(reinterpret_cast<const char*>(Packet->data), size_t(Packet->size));
      av::av_packet_unref(Packet.get());
    }
    ASSERT_EQ(Texts.size(), 2u);
    EXPECT_NE(Texts[0].find("Hello"), std::string::npos) << Texts[0];
    EXPECT_NE(Texts[1].find("World"), std::string::npos) << Texts[1];
  }
}

TEST_F(MediaGenerator, TwoAudioStreamsKeepTheirOwnParameters) {
  const std::string FileName = Dir.File("two.mkv");
  MakeTwoAudioStreams(FileName, {"flac", 44100, 2, {440.0}, 0, "eng"},
                      {VorbisEncoderName(), 22050, 1, {660.0, 880.0}, 0, "ger"}, 1.0);
  TInputContextPtr Input = OpenMedia(FileName);
  ASSERT_TRUE(Input);
  ASSERT_EQ(Input->nb_streams, 2u);
  EXPECT_EQ(CodecOf(Input->streams[0]), "flac");
  EXPECT_EQ(Input->streams[0]->codecpar->sample_rate, 44100);
  EXPECT_EQ(Input->streams[0]->codecpar->ch_layout.nb_channels, 2);
  EXPECT_EQ(CodecOf(Input->streams[1]), "vorbis");
  EXPECT_EQ(Input->streams[1]->codecpar->sample_rate, 22050);
  EXPECT_EQ(Input->streams[1]->codecpar->ch_layout.nb_channels, 1);
  EXPECT_NEAR(SecondsOf(Input.get()), 1.0, 0.1);
}

TEST_F(MediaGenerator, FailuresNameTheFileAndLeaveNothingBehind) {
  struct TCase {
    const char* Why;
    TToneSpec Spec;
    const char* Expected;
  } Cases[] = {
      {"unknown encoder", {"", "wav", "no-such-codec", 44100, 2, 1.0, {440.0}, 0}, "no encoder \"no-such-codec\""},
      {"unknown muxer", {"", "no-such-muxer", "pcm_s16le", 44100, 2, 1.0, {440.0}, 0}, "no muxer"},
      {"rate the encoder refuses", {"", "mp2", "mp2", 11025, 2, 1.0, {440.0}, 0}, "cannot open encoder \"mp2\""},
  };
  for (TCase& Case : Cases) {
    SCOPED_TRACE(Case.Why);
    Case.Spec.FileName = Dir.File("broken.out");
    try {
      MakeTone(Case.Spec);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& E) {
      const std::string Message = E.what();
      EXPECT_EQ(Message.rfind(Case.Spec.FileName + ": ", 0), 0u) << Message;
      EXPECT_NE(Message.find(Case.Expected), std::string::npos) << Message;
    }
    EXPECT_FALSE(FileExists(Case.Spec.FileName));
  }
}

}  // namespace
