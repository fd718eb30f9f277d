#include "BenchAudioMedia.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "AVProbe.h"
#include "FFmpeg.h"
#include "MediaGenerator.h"

namespace {

// An A minor chord in which two notes are doubled slightly off pitch: the pairs beat at
// 0.4 Hz and 0.6 Hz, so the level swells and fades like held music instead of staying
// flat, and the encoder never sees the same frame twice in a row.
const std::vector<double> BenchChord{220.0, 220.4, 261.63, 329.63, 330.23, 440.0, 523.25};

// A typical bit rate for music in Ogg Vorbis.
constexpr int64_t VorbisBitRate = 160000;

// Loads the libraries and keeps their log to errors: the decoder's remarks about the
// encoder's padding would drown the benchmark's table.
bool LoadLibraries() {
  if (!LoadAVLibs("", true)) {
    std::cerr << "cannot load the codec libraries: " << AVLibsError() << '\n';
    return false;
  }
  av::av_log_set_level(AV_LOG_ERROR);
  return true;
}

TToneSpec BenchTone(const std::string& AKind, double ASeconds, const std::string& AFileName) {
  TToneSpec Tone;
  Tone.FileName = AFileName;
  Tone.SampleRate = 44100;
  Tone.Channels = 2;
  Tone.Seconds = ASeconds;
  Tone.Frequencies = BenchChord;
  if (AKind == "wav") {
    Tone.Format = "wav";
    Tone.Codec = "pcm_s16le";
  } else if (AKind == "ogg") {
    Tone.Format = "ogg";
    Tone.Codec = VorbisEncoderName();
    Tone.BitRate = VorbisBitRate;
  } else {
    throw std::invalid_argument("unknown input kind \"" + AKind + "\" (wav or ogg)");
  }
  return Tone;
}

struct TDecodedCount {
  int64_t Samples = 0;  // per channel
  int SampleRate = 0;
  int Channels = 0;
};

// Counts what the library's decoder makes of the file's first audio stream, keeping
// nothing: ten minutes of samples held in memory would be hundreds of megabytes.
TDecodedCount CountDecodedSamples(const std::string& AFileName) {
  AVFormatContext* Raw = nullptr;
  if (av::avformat_open_input(&Raw, AFileName.c_str(), nullptr, nullptr) < 0)
    throw std::runtime_error(AFileName + ": cannot open");
  TInputContextPtr Input(Raw);
  int Err;
  {
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    Err = av::avformat_find_stream_info(Input.get(), nullptr);
  }
  if (Err < 0) throw std::runtime_error(AFileName + ": no stream information");
  const int Index = av::av_find_best_stream(Input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (Index < 0) throw std::runtime_error(AFileName + ": no audio stream");
  const AVCodecParameters* Par = Input->streams[Index]->codecpar;
  const AVCodec* Decoder = av::avcodec_find_decoder(Par->codec_id);
  if (!Decoder) throw std::runtime_error(AFileName + ": no decoder");
  TCodecContextPtr Codec(av::avcodec_alloc_context3(Decoder));
  if (!Codec || av::avcodec_parameters_to_context(Codec.get(), Par) < 0)
    throw std::runtime_error(AFileName + ": no decoder context");
  {
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    Err = av::avcodec_open2(Codec.get(), Decoder, nullptr);
  }
  if (Err < 0) throw std::runtime_error(AFileName + ": cannot open the decoder");

  TDecodedCount Count;
  TPacketPtr Packet(av::av_packet_alloc());
  TFramePtr Frame(av::av_frame_alloc());
  if (!Packet || !Frame) throw std::runtime_error("no packet or frame");
  auto Receive = [&] {
    while (av::avcodec_receive_frame(Codec.get(), Frame.get()) >= 0) {
      Count.Samples += Frame->nb_samples;
      Count.SampleRate = Frame->sample_rate;
      Count.Channels = Frame->ch_layout.nb_channels;
      av::av_frame_unref(Frame.get());
    }
  };
  while (av::av_read_frame(Input.get(), Packet.get()) >= 0) {
    // A damaged packet costs its samples, which the duration check then shows.
    if (Packet->stream_index == Index && av::avcodec_send_packet(Codec.get(), Packet.get()) >= 0) Receive();
    av::av_packet_unref(Packet.get());
  }
  av::avcodec_send_packet(Codec.get(), nullptr);
  Receive();
  return Count;
}

double ProbedSeconds(const std::string& AFileName) {
  TAVProbe Probe;
  Probe.Enable();
  if (!Probe.Open(AFileName)) throw std::runtime_error(AFileName + ": " + Probe.LastError());
  const TAudioStreamInfo Info = Probe.AudioInfo();
  return Info.DurationUs >= 0 ? double(Info.DurationUs) / 1e6 : -1.0;
}

// Higher variants would put the top partial near the range where lossy encoders cut.
constexpr int MaxVariant = 12;

std::vector<double> TransposedChord(int ASemitones) {
  std::vector<double> Result;
  for (double Frequency : BenchChord) Result.push_back(Frequency * std::pow(2.0, ASemitones / 12.0));
  return Result;
}

}  // namespace

int MakeBenchInput(const std::string& AKind, double ASeconds, const std::string& AFileName) {
  if (!LoadLibraries()) return 1;
  try {
    MakeTone(BenchTone(AKind, ASeconds, AFileName));
    return 0;
  } catch (const std::exception& E) {
    std::cerr << E.what() << '\n';
    return 1;
  }
}

int MakeBenchInputVariant(const std::string& AKind, double ASeconds, int AVariant, const std::string& AFileName) {
  if (AVariant < 0 || AVariant > MaxVariant) {
    std::cerr << "variant " << AVariant << " is out of range (0 to " << MaxVariant << ")\n";
    return 1;
  }
  if (!LoadLibraries()) return 1;
  try {
    TToneSpec Tone = BenchTone(AKind, ASeconds, AFileName);
    Tone.Frequencies = TransposedChord(AVariant);
    MakeTone(Tone);
    return 0;
  } catch (const std::exception& E) {
    std::cerr << E.what() << '\n';
    return 1;
  }
}

int ConvertWithEngine(const std::string& AInput, const std::string& AOutput, int AKbits) {
  if (!LoadLibraries()) return 1;
  TCustomFFmpeg Engine;
  try {
    Engine.Init();
    Engine.SetVerbose(-1);
    if (!Engine.AddInputFile(AInput)) throw FFMpegException(Engine.LastError);
    Engine.SetAudioCodec("libmp3lame");
    if (!Engine.SetBitrate("ab", std::to_string(AKbits * 1000))) throw FFMpegException("the bit rate is refused");
    if (!Engine.AddOutputFile(AOutput)) throw FFMpegException(Engine.LastError);
  } catch (const std::exception& E) {
    std::cerr << "engine set-up: " << E.what() << '\n';
    return 1;
  }
  Engine.Run(false);
  if (Engine.ExceptionRaised || !Engine.Finished) {
    std::cerr << "engine run: " << (Engine.ExceptionRaised ? Engine.ExceptionMessage : "did not finish") << '\n';
    return 1;
  }
  return 0;
}

int PrintAudioDuration(const std::string& AFileName) {
  if (!LoadLibraries()) return 1;
  try {
    const TDecodedCount Count = CountDecodedSamples(AFileName);
    const double Decoded = Count.SampleRate > 0 ? double(Count.Samples) / Count.SampleRate : 0.0;
    std::printf("%.4f %.4f %d %d\n", Decoded, ProbedSeconds(AFileName), Count.SampleRate, Count.Channels);
    return 0;
  } catch (const std::exception& E) {
    std::cerr << E.what() << '\n';
    return 1;
  }
}

int RunBenchChildMode(int AArgc, char** AArgv) {
  const std::string Mode = AArgv[1];
  if (Mode == "--make-input" && AArgc == 6)
    return MakeBenchInputVariant(AArgv[2], std::atof(AArgv[3]), std::atoi(AArgv[4]), AArgv[5]);
  if (Mode == "--audio-duration" && AArgc == 3) return PrintAudioDuration(AArgv[2]);
  return -1;
}
