// The command-line transcoder's option vocabulary, by name, onto the engine's fields
// and setters. Names outside the vocabulary go to the libraries' own option tables.
#include <charconv>
#include <cmath>
#include <system_error>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace {

enum class TValueKind { None, Text, Integer, Int64, Float };

// An option's value, converted as its kind asks.
struct TOptionArgs {
  const std::string& Name;
  const std::string& Text;
  int64_t Int = 0;  // Integer and Int64
  double Float = 0;
};

using THandler = void (*)(TCustomFFmpeg&, const TOptionArgs&);

struct TNamedOption {
  const char* Name;
  TValueKind Kind;
  THandler Handler;
};

// ---- Conversions. The whole value must be the number: a value that only begins
// with one is a mistake of the caller, not something to guess at.

[[noreturn]] void ConvertFailure(const TOptionArgs& AArgs, const char* AKindName) {
  throw TConvertError("'" + AArgs.Text + "' is not a valid " + AKindName + " value for option " + AArgs.Name);
}

// The whole text as a floating-point number, a plus sign allowed as for integers.
bool ParseWholeFloat(const std::string& AText, double& AValue) {
  const char* First = AText.data();
  const char* Last = First + AText.size();
  // from_chars takes no plus sign; a sign before another sign is still refused.
  if (First != Last && *First == '+' && Last - First > 1 && First[1] != '-' && First[1] != '+') ++First;
  const auto [End, Error] = std::from_chars(First, Last, AValue);
  return First != Last && Error == std::errc() && End == Last;
}

int64_t ToInteger(const TOptionArgs& AArgs) {
  int32_t Value = 0;
  if (!ParseInteger(AArgs.Text, Value)) ConvertFailure(AArgs, "integer");
  return Value;
}

int64_t ToInt64(const TOptionArgs& AArgs) {
  int64_t Value = 0;
  if (!ParseInteger(AArgs.Text, Value)) ConvertFailure(AArgs, "64-bit integer");
  return Value;
}

double ToFloat(const TOptionArgs& AArgs) {
  double Value = 0;
  if (!ParseWholeFloat(AArgs.Text, Value) || !std::isfinite(Value)) ConvertFailure(AArgs, "floating-point");
  return Value;
}

// ---- Handler shapes that most entries share

void DoNothing(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  AEngine.Log(1, "Do nothing: option - " + AArgs.Name);
}

void NotImplemented(TCustomFFmpeg&, const TOptionArgs& AArgs) {
  throw FFMpegException("TODO: option - " + AArgs.Name);
}

template <void (TCustomFFmpeg::*Setter)(const std::string&)>
void CallText(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  (AEngine.*Setter)(AArgs.Text);
}

template <typename TArg, void (TCustomFFmpeg::*Setter)(TArg)>
void CallNumber(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  (AEngine.*Setter)(static_cast<TArg>(AArgs.Int));
}

template <void (TCustomFFmpeg::*Setter)(float)>
void CallFloat(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  (AEngine.*Setter)(static_cast<float>(AArgs.Float));
}

// Options given by name and value: the setter needs to know which of them it got.
template <bool (TCustomFFmpeg::*Setter)(const std::string&, const std::string&)>
void CallNamedBool(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  (AEngine.*Setter)(AArgs.Name, AArgs.Text);
}

template <void (TCustomFFmpeg::*Setter)(const std::string&, const std::string&)>
void CallNamed(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  (AEngine.*Setter)(AArgs.Name, AArgs.Text);
}

// Direct stores bypass the setters' range rules on purpose: the transcoder's
// options did.
template <typename TField, TField TEngineOptions::*Field>
void StoreInteger(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  AEngine.*Field = static_cast<TField>(AArgs.Int);
}

template <float TEngineOptions::*Field>
void StoreFloat(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  AEngine.*Field = static_cast<float>(AArgs.Float);
}

template <std::string TEngineOptions::*Field>
void StoreText(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  AEngine.*Field = AArgs.Text;
}

template <typename TField, TField TEngineOptions::*Field>
void SwitchOn(TCustomFFmpeg& AEngine, const TOptionArgs&) {
  AEngine.*Field = static_cast<TField>(1);
}

template <int Type>
void StoreMaxFrames(TCustomFFmpeg& AEngine, const TOptionArgs& AArgs) {
  AEngine.MaxFrames[Type] = static_cast<int32_t>(AArgs.Int);
}

template <AVMediaType Type>
void NewStream(TCustomFFmpeg& AEngine, const TOptionArgs&) {
  AEngine.AddStreamToLastOutput(Type);
}

using E = TCustomFFmpeg;
using O = TEngineOptions;
using K = TValueKind;

const TNamedOption Vocabulary[] = {
    // Meaningless inside a component: accepted and reported.
    {"L", K::None, DoNothing},
    {"h", K::None, DoNothing},
    {"version", K::None, DoNothing},
    {"formats", K::None, DoNothing},
    {"i", K::None, DoNothing},
    {"y", K::None, DoNothing},
    {"benchmark", K::None, DoNothing},
    {"apre", K::None, DoNothing},
    {"vpre", K::None, DoNothing},
    {"spre", K::None, DoNothing},
    {"threads", K::None, NotImplemented},

    // Setters
    {"f", K::Text, CallText<&E::SetFormat>},
    {"map", K::Text, CallText<&E::AddStreamMap>},
    {"map_meta_data", K::Text, CallText<&E::AddMetaDataMap>},
    {"t", K::Text, CallText<&E::SetRecordingTime>},
    {"ss", K::Text, CallText<&E::SetStartTimeSpec>},
    {"itsoffset", K::Text, CallText<&E::SetInputTsOffset>},
    {"itsscale", K::Text, CallText<&E::SetInputTsScale>},
    {"timestamp", K::Text, CallText<&E::SetRecTimestamp>},
    {"title", K::Text, CallText<&E::SetTitle>},
    {"author", K::Text, CallText<&E::SetAuthor>},
    {"copyright", K::Text, CallText<&E::SetCopyright>},
    {"comment", K::Text, CallText<&E::SetComment>},
    {"genre", K::Text, CallText<&E::SetGenre>},
    {"album", K::Text, CallText<&E::SetAlbum>},
    {"target", K::Text, CallText<&E::SetTargetSpec>},
    {"b", K::Text, CallNamedBool<&E::SetBitrate>},
    {"vb", K::Text, CallNamedBool<&E::SetBitrate>},
    {"ab", K::Text, CallNamedBool<&E::SetBitrate>},
    {"r", K::Text, CallText<&E::SetFrameRate>},
    {"s", K::Text, CallText<&E::SetFrameSize>},
    {"aspect", K::Text, CallText<&E::SetAspectRatio>},
    {"pix_fmt", K::Text, CallText<&E::SetPixelFormat>},
    {"rc_override", K::Text, CallText<&E::SetRcOverride>},
    {"vcodec", K::Text, CallText<&E::SetVideoCodec>},
    {"acodec", K::Text, CallText<&E::SetAudioCodec>},
    {"scodec", K::Text, CallText<&E::SetSubtitleCodec>},
    {"vtag", K::Text, CallText<&E::SetVideoTag>},
    {"atag", K::Text, CallText<&E::SetAudioTag>},
    {"vstats", K::None, [](E& AEngine, const TOptionArgs&) { AEngine.SetVStats(true); }},
    {"vstats_file", K::Text, CallText<&E::SetVStatsFile>},
    {"vhook", K::Text, CallText<&E::AddVideoHook>},
    {"vfilters", K::Text, CallText<&E::SetVideoFilters>},
    {"intra_matrix", K::Text, CallText<&E::SetIntraMatrix>},
    {"inter_matrix", K::Text, CallText<&E::SetInterMatrix>},
    {"newvideo", K::None, NewStream<AVMEDIA_TYPE_VIDEO>},
    {"newaudio", K::None, NewStream<AVMEDIA_TYPE_AUDIO>},
    {"newsubtitle", K::None, NewStream<AVMEDIA_TYPE_SUBTITLE>},
    {"sample_fmt", K::Text, CallText<&E::SetSampleFormat>},
    {"tvstd", K::Text, CallText<&E::SetVideoStandard>},
    {"absf", K::Text, CallNamed<&E::AddBitstreamFilter>},
    {"vbsf", K::Text, CallNamed<&E::AddBitstreamFilter>},
    {"sbsf", K::Text, CallNamed<&E::AddBitstreamFilter>},

    // Integers
    {"v", K::Integer, CallNumber<int32_t, &E::SetVerbose>},
    {"vframes", K::Integer, StoreMaxFrames<0>},
    {"aframes", K::Integer, StoreMaxFrames<1>},
    {"dframes", K::Integer, StoreMaxFrames<2>},
    {"loop_output", K::Integer, StoreInteger<int32_t, &O::LoopOutput>},
    {"vsync", K::Integer, StoreInteger<int32_t, &O::VideoSyncMethod>},
    {"async", K::Integer, StoreInteger<int32_t, &O::AudioSyncMethod>},
    {"vglobal", K::Integer, StoreInteger<int32_t, &O::VideoGlobalHeader>},
    {"programid", K::Integer, StoreInteger<int32_t, &O::ProgramId>},
    {"croptop", K::Integer, CallNumber<int32_t, &E::SetCropTop>},
    {"cropbottom", K::Integer, CallNumber<int32_t, &E::SetCropBottom>},
    {"cropleft", K::Integer, CallNumber<int32_t, &E::SetCropLeft>},
    {"cropright", K::Integer, CallNumber<int32_t, &E::SetCropRight>},
    {"padtop", K::Integer, CallNumber<int32_t, &E::SetPadTop>},
    {"padbottom", K::Integer, CallNumber<int32_t, &E::SetPadBottom>},
    {"padleft", K::Integer, CallNumber<int32_t, &E::SetPadLeft>},
    {"padright", K::Integer, CallNumber<int32_t, &E::SetPadRight>},
    {"padcolor", K::Integer, CallNumber<uint32_t, &E::SetPadColor>},
    {"vdt", K::Integer, StoreInteger<int32_t, &O::VideoDiscard>},
    {"me_threshold", K::Integer, CallNumber<int32_t, &E::SetMeThreshold>},
    {"top", K::Integer, CallNumber<int32_t, &E::SetTopFieldFirst>},
    {"dc", K::Integer, StoreInteger<int32_t, &O::IntraDcPrecision>},
    {"pass", K::Integer, CallNumber<int32_t, &E::SetPass>},
    {"ar", K::Integer, CallNumber<int32_t, &E::SetAudioSampleRate>},
    {"ac", K::Integer, CallNumber<int32_t, &E::SetAudioChannels>},
    {"vol", K::Integer, StoreInteger<int32_t, &O::AudioVolume>},
    {"vc", K::Integer, CallNumber<int32_t, &E::SetVideoChannel>},
    {"fs", K::Int64, StoreInteger<int64_t, &O::LimitFileSize>},

    // Floating-point values
    {"qscale", K::Float, CallFloat<&E::SetVideoQScale>},
    {"aq", K::Float, StoreFloat<&O::AudioQScale>},
    {"adrift_threshold", K::Float, StoreFloat<&O::AudioDriftThreshold>},
    {"dts_delta_threshold", K::Float, StoreFloat<&O::DtsDeltaThreshold>},
    {"muxdelay", K::Float, StoreFloat<&O::MuxMaxDelay>},
    {"muxpreload", K::Float, StoreFloat<&O::MuxPreload>},

    // Texts stored as they are
    {"alang", K::Text, StoreText<&O::AudioLanguage>},
    {"slang", K::Text, StoreText<&O::SubtitleLanguage>},
    {"passlogfile", K::Text, StoreText<&O::PassLogFilePrefix>},

    // Switches: the value is not read
    {"intra", K::None, SwitchOn<int32_t, &O::IntraOnly>},
    {"vn", K::None, SwitchOn<int32_t, &O::VideoDisable>},
    {"an", K::None, SwitchOn<int32_t, &O::AudioDisable>},
    {"sn", K::None, SwitchOn<int32_t, &O::SubtitleDisable>},
    {"sameq", K::None, SwitchOn<int32_t, &O::SameQuality>},
    {"deinterlace", K::None, SwitchOn<int32_t, &O::DoDeinterlace>},
    {"psnr", K::None, SwitchOn<int32_t, &O::DoPsnr>},
    {"qphist", K::None, SwitchOn<int32_t, &O::QpHist>},
    {"dump", K::None, SwitchOn<int32_t, &O::DoPktDump>},
    {"hex", K::None, SwitchOn<int32_t, &O::DoHexDump>},
    {"re", K::None, SwitchOn<int32_t, &O::RateEmu>},
    {"loop_input", K::None, SwitchOn<int32_t, &O::LoopInput>},
    {"copyts", K::None, SwitchOn<bool, &O::CopyTs>},
    {"shortest", K::None, SwitchOn<int32_t, &O::Shortest>},
    {"xerror", K::None, SwitchOn<bool, &O::ExitOnError>},
    {"isync", K::None, SwitchOn<int32_t, &O::InputSync>},
};

}  // namespace

void TCustomFFmpeg::SetOptionByName(const std::string& AName, const std::string& AValue) {
  for (const TNamedOption& Option : Vocabulary) {
    if (AName != Option.Name) continue;
    TOptionArgs Args{AName, AValue};
    switch (Option.Kind) {
      case TValueKind::Integer: Args.Int = ToInteger(Args); break;
      case TValueKind::Int64: Args.Int = ToInt64(Args); break;
      case TValueKind::Float: Args.Float = ToFloat(Args); break;
      case TValueKind::Text:
      case TValueKind::None: break;
    }
    Option.Handler(*this, Args);
    return;
  }
  // Every parameter of the codec, format and scaler libraries is reachable by its
  // own name; one that none of them knows is dropped.
  SetGenericOption(AName, AValue);
}
