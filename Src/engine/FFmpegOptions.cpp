// The engine's typed option setters and the generic option system on the libraries'
// own option tables.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace {

// A whole text between blanks as a decimal integer, or ADefault.
int32_t IntOrDefault(const std::string& AText, int32_t ADefault) {
  int32_t Value = ADefault;
  ParseInteger(Trim(AText), Value);
  return Value;
}

// A whole text as a floating-point number, or ADefault.
double FloatOrDefault(const std::string& AText, double ADefault) {
  const std::string Text = Trim(AText);
  if (Text.empty()) return ADefault;
  char* End = nullptr;
  const double Value = std::strtod(Text.c_str(), &End);
  return *End == '\0' ? Value : ADefault;
}

// Reads an integer in the C convention of base prefixes at APos and moves past it.
int32_t ReadCInteger(const char*& APos) {
  char* End = nullptr;
  const long Value = std::strtol(APos, &End, 0);
  APos = End;
  return static_cast<int32_t>(Value);
}

void SkipOne(const char*& APos) {
  if (*APos) ++APos;
}

uint32_t FourCC(const std::string& AText) {
  return static_cast<uint8_t>(AText[0]) | static_cast<uint8_t>(AText[1]) << 8 |
         static_cast<uint8_t>(AText[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(AText[3])) << 24;
}

// Option names the presets and the component use that this library generation
// gave another name.
const char* CurrentOptionName(const std::string& AName) {
  static const struct {
    const char* Old;
    const char* Current;
  } Renamed[] = {{"gop", "g"}};
  for (const auto& R : Renamed)
    if (AName == R.Old) return R.Current;
  return nullptr;
}

// Sets an option on a holder; the option's record on success, else null.
const AVOption* SetOn(void* AHolder, const std::string& AName, const std::string& AValue) {
  if (!AHolder || av::av_opt_set(AHolder, AName.c_str(), AValue.c_str(), 0) < 0) return nullptr;
  return av::av_opt_find(AHolder, AName.c_str(), nullptr, 0, 0);
}

bool PrivateClassHas(const AVClass* const* AClass, const std::string& AName) {
  return *AClass && av::av_opt_find(const_cast<const AVClass**>(AClass), AName.c_str(), nullptr, 0,
                                    AV_OPT_SEARCH_FAKE_OBJ);
}

bool SomeEncoderHasPrivateOption(const std::string& AName) {
  void* Opaque = nullptr;
  while (const AVCodec* Codec = av::av_codec_iterate(&Opaque))
    if (av::av_codec_is_encoder(Codec) && PrivateClassHas(&Codec->priv_class, AName)) return true;
  return false;
}

bool SomeMuxerHasPrivateOption(const std::string& AName) {
  void* Opaque = nullptr;
  while (const AVOutputFormat* Muxer = av::av_muxer_iterate(&Opaque))
    if (PrivateClassHas(&Muxer->priv_class, AName)) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Formats and generic options

namespace {
// "pgmyuv" is read and written by the image-sequence format now.
std::string CompatibleFormatName(TCustomFFmpeg& AEngine, const std::string& AName) {
  if (AName != "pgmyuv") return AName;
  AEngine.PgmyuvCompat = 1;
  AEngine.Log(1, "pgmyuv format is deprecated, use image2");
  return "image2";
}
}  // namespace

void TCustomFFmpeg::SetInputFormat(const std::string& AName) {
  if (AName.empty()) return;
  const std::string Name = CompatibleFormatName(*this, AName);
  InputFormat = av::av_find_input_format(Name.c_str());
  if (!InputFormat) Fail("Unknown input format: " + Name);
}

void TCustomFFmpeg::SetOutputFormat(const std::string& AName) {
  if (AName.empty()) return;
  const std::string Name = CompatibleFormatName(*this, AName);
  OutputFormat = av::av_guess_format(Name.c_str(), nullptr, nullptr);
  if (!OutputFormat) Fail("Unknown output format: " + Name);
}

void TCustomFFmpeg::SetFormat(const std::string& AName) {
  if (AName.empty()) return;
  const std::string Name = CompatibleFormatName(*this, AName);
  InputFormat = av::av_find_input_format(Name.c_str());
  OutputFormat = av::av_guess_format(Name.c_str(), nullptr, nullptr);
  if (!InputFormat && !OutputFormat) Fail("Unknown input or output format: " + Name);
}

// A flag that moved out of a generic flag set into encoders' own options ("flags"
// "+scan_offset"): the moved tokens go to the encoder's options, the rest stays.
// True when the value held such a token; AValue keeps what is left.
bool TCustomFFmpeg::SetMovedFlags(const std::string& AName, std::string& AValue) {
  const AVOption* Option = av::av_opt_find(CodecOpts[0].get(), AName.c_str(), nullptr, 0, 0);
  if (!Option || Option->type != AV_OPT_TYPE_FLAGS || !Option->unit) return false;
  std::string Kept;
  bool Moved = false;
  size_t Pos = 0;
  while (Pos < AValue.size()) {
    const char Sign = (AValue[Pos] == '+' || AValue[Pos] == '-') ? AValue[Pos++] : '\0';
    const size_t End = AValue.find_first_of("+-", Pos);
    const std::string Token = AValue.substr(Pos, End == std::string::npos ? std::string::npos : End - Pos);
    Pos = End == std::string::npos ? AValue.size() : End;
    const bool IsConstant =
        av::av_opt_find(CodecOpts[0].get(), Token.c_str(), Option->unit, 0, 0) != nullptr;
    if (!Token.empty() && !IsConstant && SomeEncoderHasPrivateOption(Token)) {
      CodecPrivateOptions[Token] = Sign == '-' ? "0" : "1";
      Moved = true;
    } else {
      if (Sign) Kept += Sign;
      Kept += Token;
    }
  }
  if (Moved) AValue = Kept;
  return Moved;
}

// An option that this generation keeps in encoders' or muxers' own options.
bool TCustomFFmpeg::SetPrivateOption(const std::string& AName, const std::string& AValue) {
  bool Known = false;
  if (SomeEncoderHasPrivateOption(AName)) {
    CodecPrivateOptions[AName] = AValue;
    Known = true;
  }
  if (SomeMuxerHasPrivateOption(AName)) {
    FormatPrivateOptions[AName] = AValue;
    Known = true;
  }
  return Known;
}

bool TCustomFFmpeg::SetGenericOption(const std::string& AName, const std::string& AValue) {
  if (Trim(AName).empty() || Trim(AValue).empty()) return false;
  if (!CodecOpts[0] || !FormatOpts) return false;  // the libraries are not loaded
  const char* Renamed = CurrentOptionName(AName);
  const std::string Name = Renamed ? Renamed : AName;
  std::string Value = AValue;

  if (SetMovedFlags(Name, Value) && Trim(Value).empty()) {
    OptNames.push_back(Name);
    return true;
  }

  // Video, audio, data, subtitle, attachment: the option flags each type asks for.
  static const int Masks[CODEC_TYPE_COUNT] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                              AV_OPT_FLAG_SUBTITLE_PARAM, 0};
  const AVOption* Found = nullptr;
  for (int Type = 0; Type < CODEC_TYPE_COUNT; ++Type)
    if (av::av_opt_find(CodecOpts[0].get(), Name.c_str(), nullptr, Masks[Type], 0))
      Found = SetOn(CodecOpts[Type].get(), Name, Value);
  if (!Found) Found = SetOn(FormatOpts.get(), Name, Value);
  if (!Found) Found = SetOn(ScaleOpts.get(), Name, Value);
  if (!Found && Name.size() > 1) {
    const std::string Rest = Name.substr(1);
    switch (Name[0]) {
      case 'a': Found = SetOn(CodecOpts[AVMEDIA_TYPE_AUDIO].get(), Rest, Value); break;
      case 'v': Found = SetOn(CodecOpts[AVMEDIA_TYPE_VIDEO].get(), Rest, Value); break;
      case 's': Found = SetOn(CodecOpts[AVMEDIA_TYPE_SUBTITLE].get(), Rest, Value); break;
      default: break;
    }
  }
  if (!Found) {
    if (!SetPrivateOption(Name, Value)) return false;
    OptNames.push_back(Name);
    return true;
  }
  OptNames.push_back(Found->name);

  if (CodecOpts[0]->debug || FormatOpts->debug) SetVerbose(2);
  return true;
}

void TCustomFFmpeg::SetOption(const std::string& AName, const std::string& AValue) {
  SetGenericOption(AName, AValue);
}

bool TCustomFFmpeg::SetOptionInt(const std::string& AName, int32_t AValue) {
  return SetGenericOption(AName, std::to_string(AValue));
}

bool TCustomFFmpeg::SetBitrate(const std::string& AName, const std::string& AValue) {
  if (AName.empty() || AValue.empty()) return false;
  const bool Result = SetGenericOption(AName, AValue);
  if (Result && OnLogHandler) {
    void* Holder = CodecOpts[AName[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO].get();
    int64_t BitRate = 0;
    if (av::av_opt_get_int(Holder, "b", 0, &BitRate) >= 0 && BitRate < 1000)
      Log(1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
  }
  return Result;
}

void TCustomFFmpeg::SetVerbose(int32_t ALevel) {
  Verbose = ALevel;
  av::av_log_set_level(LibraryLogLevel(ALevel));
  GlobalLogLevel = ALevel;
}

// ---------------------------------------------------------------------------
// Video geometry

void TCustomFFmpeg::SetFrameSize(const std::string& AText) {
  if (AText.empty()) return;
  if (av::av_parse_video_size(&FrameWidth, &FrameHeight, AText.c_str()) < 0) Fail("Incorrect frame size");
  if (FrameWidth % 2 != 0 || FrameHeight % 2 != 0) Fail("Frame size must be a multiple of 2");
}

void TCustomFFmpeg::SetFrameRate(const std::string& AText) {
  if (AText.empty()) return;
  if (av::av_parse_video_rate(&FrameRate, AText.c_str()) < 0) Fail("Incorrect frame rate");
}

void TCustomFFmpeg::SetAspectRatio(const std::string& AText) {
  if (AText.empty()) return;
  double Ratio;
  const size_t Colon = AText.find(':');
  if (Colon != std::string::npos) {
    const int32_t X = IntOrDefault(AText.substr(0, Colon), 0);
    const int32_t Y = IntOrDefault(AText.substr(Colon + 1), 0);
    Ratio = Y > 0 ? static_cast<double>(X) / Y : 0;
  } else {
    Ratio = FloatOrDefault(AText, 0);
  }
  if (Ratio == 0) Fail("Incorrect aspect ratio specification.");
  FrameAspectRatio = static_cast<float>(Ratio);
}

void TCustomFFmpeg::SetCrop(int32_t AValue, int32_t& ACrop, int32_t& AFrameExtent,
                            const char* AOddMessage, const char* ARangeMessage) {
  if (AValue < 0) return;
  if (AValue % 2 != 0) Fail(AOddMessage);
  if (AValue >= AFrameExtent) Fail(ARangeMessage);
  ACrop = AValue;
  AFrameExtent -= AValue;
}

namespace {
const char* const VerticalCropRange =
    "Vertical crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
const char* const HorizontalCropRange =
    "Horizontal crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
}  // namespace

void TCustomFFmpeg::SetCropTop(int32_t AValue) {
  SetCrop(AValue, CropTop, FrameHeight, "Top crop size must be a multiple of 2", VerticalCropRange);
}
void TCustomFFmpeg::SetCropBottom(int32_t AValue) {
  SetCrop(AValue, CropBottom, FrameHeight, "Bottom crop size must be a multiple of 2", VerticalCropRange);
}
void TCustomFFmpeg::SetCropLeft(int32_t AValue) {
  SetCrop(AValue, CropLeft, FrameWidth, "Left crop size must be a multiple of 2", HorizontalCropRange);
}
void TCustomFFmpeg::SetCropRight(int32_t AValue) {
  SetCrop(AValue, CropRight, FrameWidth, "Right crop size must be a multiple of 2", HorizontalCropRange);
}

void TCustomFFmpeg::SetPad(int32_t AValue, int32_t& APad, const char* AOddMessage) {
  if (AValue < 0) return;
  if (AValue % 2 != 0) Fail(AOddMessage);
  APad = AValue;
}

void TCustomFFmpeg::SetPadTop(int32_t AValue) { SetPad(AValue, PadTop, "Top pad size must be a multiple of 2"); }
void TCustomFFmpeg::SetPadBottom(int32_t AValue) {
  SetPad(AValue, PadBottom, "Bottom pad size must be a multiple of 2");
}
void TCustomFFmpeg::SetPadLeft(int32_t AValue) { SetPad(AValue, PadLeft, "Left pad size must be a multiple of 2"); }
void TCustomFFmpeg::SetPadRight(int32_t AValue) {
  SetPad(AValue, PadRight, "Right pad size must be a multiple of 2");
}

void TCustomFFmpeg::SetPadColor(uint32_t AColor) {
  const uint32_t R = AColor & 0xFF, G = (AColor >> 8) & 0xFF, B = (AColor >> 16) & 0xFF;
  // Fixed-point colour conversion in 1/1024 units; the chroma sums may be negative
  // and wrap, and only the low byte of the result is a sample value.
  const uint32_t Y = (307 * R + 602 * G + 117 * B + 512) >> 10;
  const uint32_t U = ((0u - 173 * R - 340 * G + 512 * B + 511) >> 10) + 128;
  const uint32_t V = ((512 * R - 429 * G - 84 * B + 511) >> 10) + 128;
  PadColor = {static_cast<int32_t>(Y & 0xFF), static_cast<int32_t>(U & 0xFF), static_cast<int32_t>(V & 0xFF)};
}

void TCustomFFmpeg::LogFormatList(const std::vector<std::string>& ALines) {
  for (const std::string& Line : ALines) Log(1, Trim(Line));
}

void TCustomFFmpeg::SetPixelFormat(const std::string& AName) {
  if (AName == "list") {
    if (!OnLogHandler) return;
    std::vector<std::string> Lines{FormatText("%-16s %13s %14s", "name", "nb_components", "bits_per_pixel")};
    for (const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_next(nullptr); Desc;
         Desc = av::av_pix_fmt_desc_next(Desc))
      Lines.push_back(FormatText("%-16s %13d %14d", Desc->name, Desc->nb_components,
                                 av::av_get_bits_per_pixel(Desc)));
    LogFormatList(Lines);
    return;
  }
  FramePixFmt = av::av_get_pix_fmt(AName.c_str());
}

// ---------------------------------------------------------------------------
// Video coding

void TCustomFFmpeg::SetCodecName(const std::string& AName, std::string& ACodecName, int32_t& AStreamCopy) {
  if (AName.empty()) return;
  ACodecName.clear();
  if (AName == "copy")
    AStreamCopy = 1;
  else
    ACodecName = AName;
}

void TCustomFFmpeg::SetVideoCodec(const std::string& AName) {
  SetCodecName(AName, VideoCodecName, VideoStreamCopy);
}

void TCustomFFmpeg::SetVideoTag(const std::string& AText) {
  if (AText.empty()) return;
  if (AText.size() != 4) throw TAssertionFailure("video tag parameter must be 4 chars");
  VideoCodecTag = FourCC(AText);
}

void TCustomFFmpeg::SetVideoQScale(float AValue) {
  if (!(AValue > 0) || AValue > 255) Fail("qscale must be > 0.0 and <= 255");
  VideoQScale = AValue;
}

// 64 comma-separated coefficients; each is the number its field starts with, 0 when
// it starts with none, and the rest of the field is ignored.
void TCustomFFmpeg::ParseMatrix(uint16_t* ABlock, const std::string& AText) {
  std::string_view Rest = AText.c_str();
  for (int I = 0; I < 64; ++I) {
    const std::string_view Number = LeadingInteger(Rest);
    int64_t Value = 0;
    if (!Number.empty() && (!ParseInteger(Number, Value) || Value < 0 || Value > UINT16_MAX))
      Fail(FormatText("Coefficient out of range in matrix \"%s\" at coeff %d", AText.c_str(), I));
    ABlock[I] = static_cast<uint16_t>(Value);
    if (I == 63) break;
    const size_t Comma = Rest.find(',');
    if (Comma == std::string_view::npos)
      Fail(FormatText("Syntax error in matrix \"%s\" at coeff %d", AText.c_str(), I));
    Rest.remove_prefix(Comma + 1);
  }
}

void TCustomFFmpeg::SetIntraMatrix(const std::string& AText) {
  IntraMatrix.reset(static_cast<uint16_t*>(av::av_mallocz(64 * sizeof(uint16_t))));
  ParseMatrix(IntraMatrix.get(), AText);
}

void TCustomFFmpeg::SetInterMatrix(const std::string& AText) {
  InterMatrix.reset(static_cast<uint16_t*>(av::av_mallocz(64 * sizeof(uint16_t))));
  ParseMatrix(InterMatrix.get(), AText);
}

void TCustomFFmpeg::SetRcOverride(const std::string& AText) { VideoRcOverride = AText; }
void TCustomFFmpeg::SetMeThreshold(int32_t AValue) { MeThreshold = AValue; }
void TCustomFFmpeg::SetTopFieldFirst(int32_t AValue) { TopFieldFirst = AValue; }
void TCustomFFmpeg::SetVideoChannel(int32_t AValue) { VideoChannel = AValue; }
void TCustomFFmpeg::SetVideoStandard(const std::string& AText) { VideoStandard = AText; }

void TCustomFFmpeg::SetVideoFilters(const std::string& AText) {
  if (!AText.empty()) VideoFilters = AText;
}

void TCustomFFmpeg::SetVideoSyncMethod(int32_t AValue) { VideoSyncMethod = AValue; }

void TCustomFFmpeg::SetPass(int32_t AValue) {
  if (AValue != 1 && AValue != 2) Fail("pass number can be only 1 or 2");
  DoPass = AValue;
}

void TCustomFFmpeg::SetVStatsFile(const std::string& AFileName) { VStatsFileName = AFileName; }

std::string TCustomFFmpeg::VStatsFileNameFor(const std::tm& ALocalTime) {
  return FormatText("%svstats_%02d%02d%02d.log", Platform::ProgramFolder().c_str(), ALocalTime.tm_hour,
                    ALocalTime.tm_min, ALocalTime.tm_sec);
}

void TCustomFFmpeg::SetVStats(bool AEnable) {
  VStatsFileName.clear();
  if (AEnable) VStatsFileName = VStatsFileNameFor(Platform::LocalTime(std::time(nullptr)));
}

void TCustomFFmpeg::AddVideoHook(const std::string& AText) {
  if (AddFrameHookFromText(FrameHookList, AText) != 0)
    Fail("Failed to add video hook function: " + AText);
  UsingVHook = true;
}

void TCustomFFmpeg::SetHookRanges(const std::vector<THookRange>& ARanges) {
  HookRanges = ARanges;
  std::stable_sort(HookRanges.begin(), HookRanges.end(),
                   [](const THookRange& A, const THookRange& B) { return A.End < B.End; });
  HookRangeCount = static_cast<int32_t>(HookRanges.size());
  HookRangeIndex = 0;
}

// ---------------------------------------------------------------------------
// Audio and subtitles

void TCustomFFmpeg::SetAudioCodec(const std::string& AName) {
  SetCodecName(AName, AudioCodecName, AudioStreamCopy);
}

void TCustomFFmpeg::SetSubtitleCodec(const std::string& AName) {
  SetCodecName(AName, SubtitleCodecName, SubtitleStreamCopy);
}

void TCustomFFmpeg::SetAudioTag(const std::string& AText) {
  if (AText.empty()) return;
  if (AText.size() != 4) throw TAssertionFailure("audio tag parameter must be 4 chars");
  AudioCodecTag = FourCC(AText);
}

void TCustomFFmpeg::SetAudioSampleRate(int32_t AValue) {
  if (AValue > 0) AudioSampleRate = AValue;
}

void TCustomFFmpeg::SetAudioChannels(int32_t AValue) {
  if (AValue > 0) AudioChannels = AValue;
}

void TCustomFFmpeg::SetSampleFormat(const std::string& AName) {
  if (AName == "list") {
    if (!OnLogHandler) return;
    std::vector<std::string> Lines;
    char Line[128];
    for (int I = -1; I < AV_SAMPLE_FMT_NB; ++I)
      Lines.emplace_back(av::av_get_sample_fmt_string(Line, sizeof Line, static_cast<AVSampleFormat>(I)));
    LogFormatList(Lines);
    return;
  }
  AudioSampleFmt = av::av_get_sample_fmt(AName.c_str());
}

void TCustomFFmpeg::SetVolume(int32_t AValue) {
  if (AValue >= 0) AudioVolume = AValue;
}

void TCustomFFmpeg::SetAudioSyncMethod(int32_t AValue) { AudioSyncMethod = AValue; }

// ---------------------------------------------------------------------------
// Timing, maps and muxing

int64_t TCustomFFmpeg::ParseTime(const std::string& AOptionName, const std::string& AText, bool AIsDuration) {
  int64_t Value = 0;
  if (av::av_parse_time(&Value, AText.c_str(), AIsDuration) < 0)
    Fail(FormatText("Invalid %s specification for %s: %s", AIsDuration ? "duration" : "date",
                    AOptionName.c_str(), AText.c_str()));
  return Value;
}

void TCustomFFmpeg::SetRecordingTime(const std::string& AText) {
  const int64_t Ms = ParseTime("t", AText, true) / 1000;
  // Durations are exchanged in 32-bit milliseconds; a longer one is cut to the most
  // that fits rather than wrapping to a negative value.
  SetRecordingTimeMs(static_cast<int32_t>(std::min<int64_t>(Ms, INT32_MAX)));
}

void TCustomFFmpeg::SetRecordingTimeMs(int32_t AMilliseconds) {
  if (AMilliseconds <= 0) return;
  RecordingTime = static_cast<int64_t>(AMilliseconds) * 1000;
  TotalDuration = AMilliseconds;
}

void TCustomFFmpeg::SetStartTimeSpec(const std::string& AText) { StartTime = ParseTime("ss", AText, true); }

void TCustomFFmpeg::SetStartTime(int64_t AMicroseconds) {
  if (AMicroseconds > 0) StartTime = AMicroseconds;
}

void TCustomFFmpeg::SetInputTsOffset(const std::string& AText) {
  InputTsOffset = ParseTime("itsoffset", AText, true);
}

void TCustomFFmpeg::SetRecTimestamp(const std::string& AText) {
  RecTimestamp = std::llround(static_cast<double>(ParseTime("timestamp", AText, false)) / 1000000.0);
}

void TCustomFFmpeg::SetInputTsScale(const std::string& AText) {
  const char* Pos = AText.c_str();
  const int32_t Index = ReadCInteger(Pos);
  SkipOne(Pos);
  const double Scale = std::strtod(Pos, nullptr);
  if (Index < 0 || Index >= MAX_STREAMS) Fail(FormatText("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
  // The scale belongs to the input opened next; there is none after the last slot.
  if (InputFileCount >= MAX_FILES) Fail(FormatText("Too many input files (at most %d)", MAX_FILES));
  InputTsScale[InputFileCount][Index] = Scale;
}

void TCustomFFmpeg::AddStreamMap(const std::string& AText) {
  const char* Pos = AText.c_str();
  TStreamMap Map;
  Map.FileIndex = ReadCInteger(Pos);
  SkipOne(Pos);
  Map.StreamIndex = ReadCInteger(Pos);
  if (*Pos) {
    SkipOne(Pos);
    Map.SyncFileIndex = ReadCInteger(Pos);
    SkipOne(Pos);
    Map.SyncStreamIndex = ReadCInteger(Pos);
  } else {
    Map.SyncFileIndex = Map.FileIndex;
    Map.SyncStreamIndex = Map.StreamIndex;
  }
  StoreStreamMap(Map);
}

void TCustomFFmpeg::AddMetaDataMap(const std::string& AText) {
  const char* Pos = AText.c_str();
  TMetaDataMap Map;
  Map.OutFile = ReadCInteger(Pos);
  SkipOne(Pos);
  Map.InFile = ReadCInteger(Pos);
  StoreMetaDataMap(Map);
}

void TCustomFFmpeg::SetMuxMaxDelay(float AValue) {
  if (AValue > 0) MuxMaxDelay = AValue;
}

void TCustomFFmpeg::SetMuxPreload(float AValue) {
  if (AValue > 0) MuxPreload = AValue;
}

void TCustomFFmpeg::AddBitstreamFilter(const std::string& AOptionName, const std::string& AValue) {
  if (AOptionName.empty() || AValue.empty() || AValue[0] == '=') return;
  const std::string FilterName = AValue.substr(0, AValue.find('='));
  if (!av::av_bsf_get_by_name(FilterName.c_str())) Fail("Unknown bitstream filter " + Trim(AValue));
  TBitstreamFilterChain& Chain =
      AOptionName[0] == 'v' ? VideoBsfChain : AOptionName[0] == 'a' ? AudioBsfChain : SubtitleBsfChain;
  Chain.push_back(AValue);
}

void TCustomFFmpeg::SetProgramId(int32_t AValue) {
  if (AValue >= 0) ProgramId = AValue;
}

// ---------------------------------------------------------------------------
// Meta-data of the next output

namespace {
void SetIfGiven(std::string& AField, const std::string& AText) {
  if (!AText.empty()) AField = AText;
}
}  // namespace

void TCustomFFmpeg::SetTitle(const std::string& AText) { SetIfGiven(Title, AText); }
void TCustomFFmpeg::SetAuthor(const std::string& AText) { SetIfGiven(Author, AText); }
void TCustomFFmpeg::SetCopyright(const std::string& AText) { SetIfGiven(Copyright, AText); }
void TCustomFFmpeg::SetComment(const std::string& AText) { SetIfGiven(Comment, AText); }
void TCustomFFmpeg::SetGenre(const std::string& AText) { SetIfGiven(Genre, AText); }
void TCustomFFmpeg::SetAlbum(const std::string& AText) { SetIfGiven(Album, AText); }

void TCustomFFmpeg::SetYear(int32_t AValue) {
  if (AValue > 0) Year = AValue;
}

void TCustomFFmpeg::SetTrack(int32_t AValue) {
  if (AValue > 0) Track = AValue;
}

// ---------------------------------------------------------------------------
// Look-ups

bool TCustomFFmpeg::FindCodec(const std::string& AName, int32_t AType, int32_t& AId, bool AEncoder) {
  if (AName.empty()) {
    AId = AV_CODEC_ID_NONE;
    return true;
  }
  const char* Kind = AEncoder ? "encoder" : "decoder";
  const AVCodec* Codec = AEncoder ? av::avcodec_find_encoder_by_name(AName.c_str())
                                  : av::avcodec_find_decoder_by_name(AName.c_str());
  if (!Codec) {
    LastError = FormatText("Unknown %s '%s'", Kind, AName.c_str());
    return false;
  }
  if (Codec->type != AType) {
    LastError = FormatText("Invalid %s type '%s'", Kind, AName.c_str());
    return false;
  }
  AId = Codec->id;
  return true;
}

void TCustomFFmpeg::ApplyGenericOptions(void* ATarget, void* ASource, int32_t AFlags) {
  if (!ATarget || !ASource) return;
  for (const std::string& Name : OptNames) {
    const AVOption* Option = av::av_opt_find(ASource, Name.c_str(), nullptr, 0, 0);
    uint8_t* Value = nullptr;
    if (!Option || av::av_opt_get(ASource, Name.c_str(), 0, &Value) < 0 || !Value) continue;
    if ((Option->flags & AFlags) == AFlags) av::av_opt_set(ATarget, Name.c_str(), reinterpret_cast<char*>(Value), 0);
    av::av_free(Value);
  }
}
