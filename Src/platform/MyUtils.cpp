#include "MyUtils.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

std::string SplitText(std::string& ASource, const std::string& ASeparator, bool ARemove) {
  const size_t Pos = ASeparator.empty() ? std::string::npos : ASource.find(ASeparator);
  if (Pos == std::string::npos) {
    std::string All = ASource;
    if (ARemove) ASource.clear();
    return All;
  }
  std::string Head = ASource.substr(0, Pos);
  if (ARemove) ASource.erase(0, Pos + ASeparator.size());
  return Head;
}

int64_t FileSizeOf(const std::string& AFileName) {
  struct stat St;
  if (stat(AFileName.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return -1;
  return static_cast<int64_t>(St.st_size);
}

bool FileExists(const std::string& AFileName) { return FileSizeOf(AFileName) >= 0; }

bool DirectoryExists(const std::string& AFolder) {
  struct stat St;
  return stat(AFolder.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

std::string Trim(const std::string& AText) {
  size_t First = 0, Last = AText.size();
  while (First < Last && static_cast<unsigned char>(AText[First]) <= ' ') ++First;
  while (Last > First && static_cast<unsigned char>(AText[Last - 1]) <= ' ') --Last;
  return AText.substr(First, Last - First);
}

namespace {

template <typename T>
bool ParseIntegerOf(std::string_view AText, T& AValue) {
  const char* First = AText.data();
  const char* Last = First + AText.size();
  // from_chars takes a minus sign but no plus sign.
  if (First != Last && *First == '+') {
    ++First;
    if (First != Last && *First == '-') return false;
  }
  T Value = 0;
  const auto [End, Error] = std::from_chars(First, Last, Value);
  if (First == Last || Error != std::errc() || End != Last) return false;
  AValue = Value;
  return true;
}

}  // namespace

bool ParseInteger(std::string_view AText, int32_t& AValue) { return ParseIntegerOf(AText, AValue); }
bool ParseInteger(std::string_view AText, int64_t& AValue) { return ParseIntegerOf(AText, AValue); }

std::string_view LeadingInteger(std::string_view AText) {
  size_t First = 0;
  while (First < AText.size() && std::isspace(static_cast<unsigned char>(AText[First]))) ++First;
  size_t Last = First;
  if (Last < AText.size() && (AText[Last] == '+' || AText[Last] == '-')) ++Last;
  const size_t Digits = Last;
  while (Last < AText.size() && AText[Last] >= '0' && AText[Last] <= '9') ++Last;
  return Last == Digits ? AText.substr(0, 0) : AText.substr(First, Last - First);
}

std::string UpperCase(std::string AText) {
  std::transform(AText.begin(), AText.end(), AText.begin(),
                 [](unsigned char C) { return static_cast<char>(std::toupper(C)); });
  return AText;
}

std::string LowerCase(std::string AText) {
  std::transform(AText.begin(), AText.end(), AText.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  return AText;
}

std::string IncludeTrailingPathDelimiter(const std::string& AFolder) {
  if (AFolder.empty() || AFolder.back() == '/') return AFolder;
  return AFolder + "/";
}

std::string FormatTextV(const char* AFormat, va_list AArgs) {
  va_list Copy;
  va_copy(Copy, AArgs);
  char Small[256];
  const int Needed = std::vsnprintf(Small, sizeof Small, AFormat, Copy);
  va_end(Copy);
  if (Needed < 0) return std::string();
  if (static_cast<size_t>(Needed) < sizeof Small) return std::string(Small, Needed);
  std::vector<char> Big(static_cast<size_t>(Needed) + 1);
  std::vsnprintf(Big.data(), Big.size(), AFormat, AArgs);
  return std::string(Big.data(), Needed);
}

std::string FormatText(const char* AFormat, ...) {
  va_list Args;
  va_start(Args, AFormat);
  std::string Result = FormatTextV(AFormat, Args);
  va_end(Args);
  return Result;
}

std::string ExtractFileName(const std::string& AFileName) {
  const size_t Slash = AFileName.rfind('/');
  return Slash == std::string::npos ? AFileName : AFileName.substr(Slash + 1);
}

std::string ExtractFileExt(const std::string& AFileName) {
  const size_t Dot = AFileName.rfind('.');
  const size_t Slash = AFileName.rfind('/');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return std::string();
  return AFileName.substr(Dot);
}

std::string FormatDuration(int64_t AMilliseconds) {
  const int64_t Seconds = std::max<int64_t>(0, (AMilliseconds + 500) / 1000);
  if (Seconds >= 3600)
    return FormatText("%lld:%02lld:%02lld", (long long)(Seconds / 3600), (long long)(Seconds / 60 % 60),
                      (long long)(Seconds % 60));
  return FormatText("%lld:%02lld", (long long)(Seconds / 60), (long long)(Seconds % 60));
}
