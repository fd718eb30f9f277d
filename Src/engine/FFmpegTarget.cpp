// Target presets: the output format, codecs, geometry and rate control that a disc
// or tape format requires, chosen for the television norm.
#include <cmath>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace {

enum TNorm { nmPal = 0, nmNtsc = 1, nmFilm = 2 };

// A frame rate in thousandths of a frame per second, rounded; 0 for no rate.
int64_t MilliFps(const AVRational& ARate) {
  if (ARate.num == 0 || ARate.den == 0) return 0;
  return std::llround(static_cast<double>(ARate.num) * 1000.0 / ARate.den);
}

// The norm a rate in thousandths belongs to; false when it belongs to none.
bool NormOfRate(int64_t AMilliFps, TNorm& ANorm) {
  if (AMilliFps == 25000) {
    ANorm = nmPal;
    return true;
  }
  if (AMilliFps == 29970 || AMilliFps == 23976) {
    ANorm = nmNtsc;
    return true;
  }
  return false;
}

// What the stream says its frame rate is: the average when it knows one, else the
// container's real base rate.
AVRational StreamFrameRate(const AVStream* AStream) {
  const AVRational Average = AStream->avg_frame_rate;
  if (Average.num != 0 && Average.den != 0) return Average;
  return AStream->r_frame_rate;
}

struct TPreset {
  const char* Kind;
  const char* VideoCodec;  // null: the preset sets none
  const char* AudioCodec;
  const char* Format;
  const char* SizePal;
  const char* SizeNtsc;  // also film
  const char* GopPal;
  const char* GopNtsc;
  const char* VideoBitRate;
  const char* MaxRate;
  const char* MinRate;
  const char* BufSize;
  const char* Flags;
  const char* AudioBitRate;
  int32_t SampleRate;
  bool ForceStereo;  // false: only mono becomes stereo
  const char* PacketSize;
  const char* MuxRate;
  float MuxPreload;  // 0: left alone
  const char* DefaultAspect;
};

const TPreset Presets[] = {
    {"vcd", "mpeg1video", "mp2", "vcd", "352x288", "352x240", "15", "18", "1150000", "1150000", "1150000",
     "327680", nullptr, "224000", 44100, true, "2324", "1411200", 0.44f, "4:3"},
    {"svcd", "mpeg2video", "mp2", "svcd", "480x576", "480x480", "15", "18", "2040000", "2516000", "0",
     "1835008", "+scan_offset", "224000", 44100, false, "2324", nullptr, 0, "4:3"},
    {"dvd", "mpeg2video", "ac3", "dvd", "720x576", "720x480", "15", "18", "6000000", "9000000", "0",
     "1835008", nullptr, "448000", 48000, false, "2048", "10080000", 0, "16:9"},
    {"dv", nullptr, nullptr, "dv", "720x576", "720x480", nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr, nullptr, 48000, true, nullptr, nullptr, 0, nullptr},
    {"dv50", nullptr, nullptr, "dv", "720x576", "720x480", nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr, nullptr, 48000, true, nullptr, nullptr, 0, nullptr},
};

const TPreset* FindPreset(const std::string& AKind) {
  for (const TPreset& Preset : Presets)
    if (AKind == Preset.Kind) return &Preset;
  return nullptr;
}

}  // namespace

void TCustomFFmpeg::SetTarget(const std::string& AKind, const std::string& ANorm, const std::string& AFallbackNorm) {
  TNorm Norm;
  if (ANorm == "pal") {
    Norm = nmPal;
  } else if (ANorm == "ntsc") {
    Norm = nmNtsc;
  } else if (ANorm == "film") {
    Norm = nmFilm;
  } else {
    if (FrameRate.den == 0) throw FFMpegException("frame_rate is invalid.");
    bool Decided = NormOfRate(MilliFps(FrameRate), Norm);
    for (int F = 0; F < InputFileCount && !Decided; ++F) {
      const AVFormatContext* Input = InputFiles[F].get();
      if (!Input) continue;
      for (unsigned S = 0; S < Input->nb_streams && !Decided; ++S) {
        const AVStream* Stream = Input->streams[S];
        if (Stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        const int64_t Rate = MilliFps(StreamFrameRate(Stream));
        if (Rate != 0) Decided = NormOfRate(Rate, Norm);
      }
    }
    // Detection that finds nothing is not worth a message: the fallback is the
    // caller's choice.
    if (!Decided) Norm = AFallbackNorm == "film" ? nmFilm : AFallbackNorm == "ntsc" ? nmNtsc : nmPal;
    if (Verbose > 0 && OnLogHandler)
      Log(1, FormatText("Assuming %s for target.", Norm == nmPal ? "PAL" : "NTSC"));
  }

  const TPreset* Preset = FindPreset(AKind);
  if (!Preset) throw FFMpegException("Unknown target type");
  const bool Pal = Norm == nmPal;
  static const char* const NormFrameRates[] = {"25", "30000/1001", "24000/1001"};

  // Row by row, so a value a setter rejects leaves the earlier rows applied.
  if (Preset->VideoCodec) SetVideoCodec(Preset->VideoCodec);
  if (Preset->AudioCodec) SetAudioCodec(Preset->AudioCodec);
  SetOutputFormat(Preset->Format);
  SetFrameSize(Pal ? Preset->SizePal : Preset->SizeNtsc);
  if (AKind == "dv50")
    SetPixelFormat("yuv422p");
  else if (AKind == "dv")
    SetPixelFormat(Pal ? "yuv420p" : "yuv411p");
  SetFrameRate(NormFrameRates[Norm]);
  const auto SetIfGiven = [this](const char* AName, const char* AValue) {
    if (AValue) SetOption(AName, AValue);
  };
  SetIfGiven("gop", Pal ? Preset->GopPal : Preset->GopNtsc);
  SetIfGiven("b", Preset->VideoBitRate);
  SetIfGiven("maxrate", Preset->MaxRate);
  SetIfGiven("minrate", Preset->MinRate);
  SetIfGiven("bufsize", Preset->BufSize);
  SetIfGiven("flags", Preset->Flags);
  SetIfGiven("ab", Preset->AudioBitRate);
  AudioSampleRate = Preset->SampleRate;
  if (Preset->ForceStereo || AudioChannels == 1) AudioChannels = 2;
  SetIfGiven("packetsize", Preset->PacketSize);
  SetIfGiven("muxrate", Preset->MuxRate);
  if (Preset->MuxPreload > 0) SetMuxPreload(Preset->MuxPreload);

  if (Preset->DefaultAspect && FrameAspectRatio == 0) {
    Log(1, FormatText("Assuming %s for aspect ratio", Preset->DefaultAspect));
    SetAspectRatio(Preset->DefaultAspect);
  }
}

void TCustomFFmpeg::SetTargetSpec(const std::string& AText) {
  const std::string Text = Trim(AText);
  std::string Norm = "auto";
  std::string Kind = Text;
  static const struct {
    const char* Prefix;
    const char* Norm;
  } NormPrefixes[] = {{"pal-", "pal"}, {"ntsc-", "ntsc"}, {"film-", "film"}};
  for (const auto& P : NormPrefixes)
    if (Text.rfind(P.Prefix, 0) == 0) {
      Norm = P.Norm;
      Kind = Text.substr(std::char_traits<char>::length(P.Prefix));
      break;
    }
  SetTarget(Kind, Norm, "ntsc");
}
