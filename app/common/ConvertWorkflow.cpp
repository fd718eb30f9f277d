#include "ConvertWorkflow.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "AVFormatHlpr.h"
#include "AVUtilHlpr.h"
#include "MyUtils.h"

std::string FormatExtension(const std::string& AFormatText) {
  const size_t Open = AFormatText.find('(');
  const size_t Close = AFormatText.find(')');
  if (Open == std::string::npos || Close == std::string::npos || Close < Open + 2) return std::string();
  return AFormatText.substr(Open + 2, Close - Open - 2);
}

std::string FormatLabel(const std::string& AFormatText) {
  const size_t Open = AFormatText.find('(');
  std::string Label = AFormatText.substr(0, Open == std::string::npos || Open == 0 ? Open : Open - 1);
  for (char& C : Label)
    if (C == '*') C = 'x';
  return Label;
}

namespace {

bool IsAudioExtension(const std::string& AExtension) {
  return !AExtension.empty() && std::strstr(AudioExtensions, AExtension.c_str()) != nullptr;
}

}  // namespace

void BuildOutputOptions(const TAVProbe& ATaskProbe, const std::string& AFormatText, TOutputOptions& AOptions) {
  ResetOutputOptions(AOptions);
  const std::string Extension = FormatExtension(AFormatText);
  if (IsAudioExtension(Extension) || IsAudioExtension(ExtractFileExt(ATaskProbe.LoadedFileName())))
    AOptions.DisableVideo = true;
  if (AFormatText == Mp3FormatText) AOptions.AudioCodec = "libmp3lame";
  if (ATaskProbe.AudioCount() > 0) {
    const TAudioStreamInfo Audio = ATaskProbe.AudioInfo();
    AOptions.AudioChannels = Audio.Channels;
    AOptions.AudioSampleRate = Audio.SampleRate;
    AOptions.AudioBitrate = Audio.BitRate;
  }
  if (!AOptions.DisableVideo && ATaskProbe.VideoCount() > 0) {
    const TVideoStreamInfo Video = ATaskProbe.VideoInfo();
    AOptions.FrameSize = std::to_string(Video.Width) + "x" + std::to_string(Video.Height);
    AOptions.VideoBitrate = 1500000;
  }
}

int Mp3SampleRate(int ARate) {
  static constexpr std::array<int, 9> Rates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
  // High rates of the 44.1 kHz family stay in it.
  if (ARate > 48000) return ARate % 11025 == 0 ? 44100 : 48000;
  int Best = Rates.front();
  for (int Rate : Rates)
    if (std::abs(Rate - ARate) <= std::abs(Best - ARate)) Best = Rate;
  return Best;
}

int Mp3BitRate(int ABitRate, int ASampleRate) {
  static constexpr std::array<int, 14> Mpeg1{32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static constexpr std::array<int, 14> Mpeg2{8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  const auto& Table = ASampleRate >= 32000 ? Mpeg1 : Mpeg2;
  const int Kbits = ABitRate / 1000;
  int Best = Table.front();
  for (int Rate : Table)
    if (std::abs(Rate - Kbits) <= std::abs(Best - Kbits)) Best = Rate;
  return Best * 1000;
}

void FitToMp3(TOutputOptions& AOptions) {
  if (AOptions.AudioChannels > 2) AOptions.AudioChannels = 2;
  if (AOptions.AudioSampleRate > 0) AOptions.AudioSampleRate = Mp3SampleRate(AOptions.AudioSampleRate);
  if (AOptions.AudioBitrate <= 0) {
    AOptions.AudioBitrate = -1;
  } else {
    const int Rate = AOptions.AudioSampleRate > 0 ? AOptions.AudioSampleRate : 44100;
    AOptions.AudioBitrate = Mp3BitRate(AOptions.AudioBitrate, Rate);
  }
}

namespace {

std::string TagOf(const TAVProbe& AProbe, const char* AKey) {
  AVFormatContext* Context = AProbe.Context();
  if (!Context) return std::string();
  if (const AVDictionaryEntry* Entry = av::av_dict_get(Context->metadata, AKey, nullptr, 0)) return Entry->value;
  if (AProbe.FirstAudio() >= 0 && AProbe.FirstAudio() < static_cast<int>(Context->nb_streams))
    if (const AVDictionaryEntry* Entry =
            av::av_dict_get(Context->streams[AProbe.FirstAudio()]->metadata, AKey, nullptr, 0))
      return Entry->value;
  return std::string();
}

std::string FirstOf(const TAVProbe& AProbe, std::initializer_list<const char*> AKeys) {
  for (const char* Key : AKeys)
    if (std::string Value = TagOf(AProbe, Key); !Value.empty()) return Value;
  return std::string();
}

int32_t LeadingNumber(const std::string& AText) {
  int64_t Value = -1;
  ParseInteger(LeadingInteger(AText), Value);
  return Value > 0 && Value < 100000 ? static_cast<int32_t>(Value) : -1;
}

}  // namespace

void CarryTags(const TAVProbe& ATaskProbe, TOutputOptions& AOptions) {
  auto Cut = [](std::string AText, size_t ASize) { return AText.substr(0, ASize - 1); };
  AOptions.Title = Cut(FirstOf(ATaskProbe, {"title"}), MetaTextSize);
  AOptions.Author = Cut(FirstOf(ATaskProbe, {"artist", "author", "album_artist"}), MetaTextSize);
  AOptions.Album = Cut(FirstOf(ATaskProbe, {"album"}), MetaTextSize);
  AOptions.Comment = Cut(FirstOf(ATaskProbe, {"comment", "description"}), MetaTextSize);
  AOptions.Copyright = Cut(FirstOf(ATaskProbe, {"copyright"}), MetaTextSize);
  AOptions.Genre = Cut(FirstOf(ATaskProbe, {"genre"}), GenreTextSize);
  AOptions.Year = LeadingNumber(FirstOf(ATaskProbe, {"date", "year"}));
  AOptions.Track = LeadingNumber(FirstOf(ATaskProbe, {"track", "tracknumber"}));
}
