#include "AVOptionRecords.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

#include "MyUtils.h"
#include "Platform.h"

void ResetInputOptions(TInputOptions& AOptions) { AOptions = TInputOptions{}; }
void ResetOutputOptions(TOutputOptions& AOptions) { AOptions = TOutputOptions{}; }

// ---------------------------------------------------------------------------
// Extra options

namespace {

// CR LF and a lone CR become LF, so each line ends the same way.
std::string WithLineFeeds(const std::string& AText) {
  std::string Result;
  Result.reserve(AText.size());
  for (size_t I = 0; I < AText.size(); ++I) {
    if (AText[I] != '\r') {
      Result += AText[I];
      continue;
    }
    Result += '\n';
    if (I + 1 < AText.size() && AText[I + 1] == '\n') ++I;
  }
  return Result;
}

}  // namespace

void ApplyExtraOptions(TCustomFFmpeg& AEngine, const std::string& AText) {
  std::string Text = WithLineFeeds(Trim(AText));
  while (!Text.empty()) {
    std::string Line = SplitText(Text, "\n");
    const std::string Name = SplitText(Line, "=");
    AEngine.SetOptionByName(Name, Line);
  }
}

// ---------------------------------------------------------------------------
// Input options

void ApplyInputOptions(TCustomFFmpeg& AEngine, const TInputOptions& AOptions) {
  ApplyExtraOptions(AEngine, AOptions.ExtraOptions);
  AEngine.SetInputFormat(AOptions.FormatName);
  AEngine.SetStartTime(static_cast<int64_t>(AOptions.StartTimeMs) * 1000);
  AEngine.SetProgramId(AOptions.ProgramId);
}

// ---------------------------------------------------------------------------
// Output options

namespace {

// A generic integer option that the record leaves at the engine's default unless
// it is positive.
void SetPositiveOption(TCustomFFmpeg& AEngine, const char* AName, int32_t AValue) {
  if (AValue > 0) AEngine.SetOptionInt(AName, AValue);
}

// A meta-data text as the fixed array of ASize characters held it: up to its first
// zero and at most ASize - 1 bytes, never ending inside a UTF-8 sequence.
std::string FixedText(const std::string& AText, size_t ASize) {
  std::string Text = AText.substr(0, AText.find('\0'));
  if (Text.size() < ASize) return Text;
  size_t Cut = ASize - 1;
  while (Cut > 0 && (static_cast<unsigned char>(Text[Cut]) & 0xC0) == 0x80) --Cut;
  Text.resize(Cut);
  return Text;
}

void ApplyMuxingFields(TCustomFFmpeg& AEngine, const TOutputOptions& R) {
  AEngine.SetOutputFormat(R.FormatName);
  SetPositiveOption(AEngine, "packetsize", R.PacketSize);
  SetPositiveOption(AEngine, "muxrate", R.MuxRate);
  AEngine.SetMuxMaxDelay(R.MuxDelay);
  AEngine.SetMuxPreload(R.MuxPreload);
}

void ApplyAudioFields(TCustomFFmpeg& AEngine, const TOutputOptions& R) {
  AEngine.SetAudioCodec(R.AudioCodec);
  if (R.DisableAudio) AEngine.AudioDisable = 1;
  AEngine.SetVolume(R.AudioVolume);
  AEngine.SetAudioChannels(R.AudioChannels);
  AEngine.SetAudioSampleRate(R.AudioSampleRate);
  SetPositiveOption(AEngine, "ab", R.AudioBitrate);
  SetPositiveOption(AEngine, "abt", R.AudioBitrateTolerance);
  AEngine.AudioLanguage = R.AudioLanguage;
  AEngine.SetAudioSyncMethod(R.AudioSync);
  AEngine.SetAudioTag(R.AudioTag);
}

void ApplyVideoFields(TCustomFFmpeg& AEngine, const TOutputOptions& R) {
  AEngine.SetVideoCodec(R.VideoCodec);
  if (R.DisableVideo) AEngine.VideoDisable = 1;
  AEngine.SetFrameRate(R.FrameRate);
  AEngine.SetFrameSize(R.FrameSize);
  AEngine.SetAspectRatio(R.AspectRatio);
  AEngine.SetCropTop(R.CropTop);
  AEngine.SetCropBottom(R.CropBottom);
  AEngine.SetCropLeft(R.CropLeft);
  AEngine.SetCropRight(R.CropRight);
  AEngine.SetPadTop(R.PadTop);
  AEngine.SetPadBottom(R.PadBottom);
  AEngine.SetPadLeft(R.PadLeft);
  AEngine.SetPadRight(R.PadRight);
  AEngine.SetPadColor(static_cast<uint32_t>(R.PadColor) & 0xFFFFFFu);
  SetPositiveOption(AEngine, "gop", R.GopSize);
  SetPositiveOption(AEngine, "vb", R.VideoBitrate);
  SetPositiveOption(AEngine, "maxrate", R.VideoMaxRate);
  SetPositiveOption(AEngine, "minrate", R.VideoMinRate);
  SetPositiveOption(AEngine, "bt", R.VideoBitrateTolerance);
  SetPositiveOption(AEngine, "bufsize", R.VideoBufferSize);
  AEngine.SetVideoSyncMethod(R.VideoSync);
  AEngine.SetVideoTag(R.VideoTag);
  AEngine.SetVideoFilters(R.VideoFilters);
}

void ApplySubtitleAndTimingFields(TCustomFFmpeg& AEngine, const TOutputOptions& R) {
  if (R.DisableSubtitle) AEngine.SubtitleDisable = 1;
  AEngine.SubtitleLanguage = R.SubtitleLanguage;
  AEngine.CopyTs = R.CopyTimestamps;
  AEngine.SetRecordingTimeMs(R.DurationMs);
  int64_t Seconds = 0;
  if (RecTimestampFor(R.Timestamp, Seconds)) AEngine.RecTimestamp = Seconds;
}

void ApplyMetaDataFields(TCustomFFmpeg& AEngine, const TOutputOptions& R) {
  AEngine.SetYear(R.Year);
  AEngine.SetTrack(R.Track);
  AEngine.SetTitle(FixedText(R.Title, MetaTextSize));
  AEngine.SetAuthor(FixedText(R.Author, MetaTextSize));
  AEngine.SetCopyright(FixedText(R.Copyright, MetaTextSize));
  AEngine.SetComment(FixedText(R.Comment, MetaTextSize));
  AEngine.SetAlbum(FixedText(R.Album, MetaTextSize));
  AEngine.SetGenre(FixedText(R.Genre, GenreTextSize));
}

}  // namespace

bool TargetArguments(const TOutputOptions& AOptions, std::string& AKind, std::string& ANorm,
                     std::string& AFallbackNorm) {
  static const char* const Kinds[] = {"vcd", "svcd", "dvd"};
  if (AOptions.Target < 1 || AOptions.Target > 3) return false;
  AKind = Kinds[AOptions.Target - 1];
  ANorm = AOptions.TargetNorm == 1 ? "pal" : AOptions.TargetNorm == 2 ? "ntsc" : "auto";
  AFallbackNorm = AOptions.TargetFallbackNorm == 1 ? "pal" : "ntsc";
  return true;
}

void ApplyOutputOptionFields(TCustomFFmpeg& AEngine, const TOutputOptions& AOptions) {
  ApplyExtraOptions(AEngine, AOptions.ExtraOptions);
  ApplyMuxingFields(AEngine, AOptions);
  ApplyAudioFields(AEngine, AOptions);
  ApplyVideoFields(AEngine, AOptions);
  ApplySubtitleAndTimingFields(AEngine, AOptions);
  ApplyMetaDataFields(AEngine, AOptions);
  std::string Kind, Norm, FallbackNorm;
  if (TargetArguments(AOptions, Kind, Norm, FallbackNorm)) AEngine.SetTarget(Kind, Norm, FallbackNorm);
}

// ---------------------------------------------------------------------------
// Hook ranges

namespace {

// A whole text as a decimal int64 (leading blanks and a sign allowed), else -1.
int64_t DecimalOrMinusOne(const std::string& AText) {
  size_t First = 0;
  while (First < AText.size() && static_cast<unsigned char>(AText[First]) <= ' ') ++First;
  int64_t Value = -1;
  ParseInteger(std::string_view(AText).substr(First), Value);
  return Value;
}

// Milliseconds to microseconds, held at the limits instead of wrapping.
int64_t MillisecondsToMicroseconds(int64_t AMilliseconds) {
  constexpr int64_t Max = std::numeric_limits<int64_t>::max();
  constexpr int64_t Min = std::numeric_limits<int64_t>::min();
  if (AMilliseconds > Max / 1000) return Max;
  if (AMilliseconds < Min / 1000) return Min;
  return AMilliseconds * 1000;
}

}  // namespace

std::vector<THookRange> ParseHookRanges(const std::string& AText) {
  std::vector<THookRange> Ranges;
  std::string Text = Trim(AText);
  while (!Text.empty()) {
    std::string Piece = Trim(SplitText(Text, ","));
    const std::string StartPart = Trim(SplitText(Piece, "-"));
    // What is left of the piece is the end part; without a "-" it is empty.
    const int64_t Start = MillisecondsToMicroseconds(DecimalOrMinusOne(StartPart));
    const int64_t End = MillisecondsToMicroseconds(DecimalOrMinusOne(Piece));
    if (Start <= End && End >= 0) Ranges.push_back({Start, End});
  }
  return Ranges;
}

// ---------------------------------------------------------------------------
// Recording time stamps

namespace {

constexpr double DaysFrom1899To1970 = 25569.0;
constexpr double SecondsPerDay = 86400.0;

double RoundHalfToEven(double AValue) {
  const double Floor = std::floor(AValue);
  const double Fraction = AValue - Floor;
  if (Fraction > 0.5) return Floor + 1;
  if (Fraction < 0.5) return Floor;
  return std::fmod(Floor, 2.0) == 0 ? Floor : Floor + 1;
}

int64_t SaturatedInt64(double AValue) {
  // 2^63 is exact in a double; everything below it (and from -2^63 on) fits.
  constexpr double Limit = 9223372036854775808.0;
  if (std::isnan(AValue)) return 0;
  if (AValue >= Limit) return std::numeric_limits<int64_t>::max();
  if (AValue < -Limit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(AValue);
}

}  // namespace

int64_t TimestampToUnixSeconds(double ADays, int32_t ABiasMinutes) {
  const double ZoneDays = -static_cast<double>(ABiasMinutes) / 1440.0;
  return SaturatedInt64(RoundHalfToEven((ADays - DaysFrom1899To1970 - ZoneDays) * SecondsPerDay));
}

int32_t LocalBiasMinutesAt(double ADays) {
  // Read the local date-time as if it were UTC, let the system find the UTC instant
  // of that wall-clock time, and take the difference.
  const int64_t WallClock = SaturatedInt64(std::floor((ADays - DaysFrom1899To1970) * SecondsPerDay));
  const std::time_t AsUtc = static_cast<std::time_t>(WallClock);
  std::tm Fields{};
  if (static_cast<int64_t>(AsUtc) != WallClock || !gmtime_r(&AsUtc, &Fields))
    return Platform::StandardTimeZoneBiasMinutes();
  Fields.tm_isdst = -1;
  errno = 0;
  const std::time_t Instant = std::mktime(&Fields);
  if (Instant == static_cast<std::time_t>(-1) && errno != 0) return Platform::StandardTimeZoneBiasMinutes();
  return static_cast<int32_t>((static_cast<int64_t>(Instant) - WallClock) / 60);
}

double LocalNowInDays() {
  const double Seconds =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  const std::time_t Whole = static_cast<std::time_t>(std::floor(Seconds));
  std::tm Local{};
  localtime_r(&Whole, &Local);
  return (Seconds + static_cast<double>(Local.tm_gmtoff)) / SecondsPerDay + DaysFrom1899To1970;
}

bool RecTimestampFor(double ATimestamp, int64_t& ASeconds) {
  if (!(ATimestamp >= 0)) return false;
  const double Days = ATimestamp == 0 ? LocalNowInDays() : ATimestamp;
  // The offset in force at that date, so a summer date is not an hour off.
  ASeconds = TimestampToUnixSeconds(Days, LocalBiasMinutesAt(Days));
  return true;
}
