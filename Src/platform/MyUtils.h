// Small text and file helpers shared by every layer.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

// Returns the text of ASource up to the first ASeparator (all of it when there is
// none). With ARemove, that part and the separator are taken out of ASource.
std::string SplitText(std::string& ASource, const std::string& ASeparator, bool ARemove = true);

// Size of a file in bytes, or -1 when it does not exist (or is no regular file).
int64_t FileSizeOf(const std::string& AFileName);
bool FileExists(const std::string& AFileName);
bool DirectoryExists(const std::string& AFolder);

// Removes blanks and control characters at both ends.
std::string Trim(const std::string& AText);

// The whole of AText as a decimal integer: an optional "+" or "-", then digits only,
// nothing before or after, within the range of the type. AValue changes only on
// success. Callers build their own rules (blanks, defaults, ranges) on this.
bool ParseInteger(std::string_view AText, int32_t& AValue);
bool ParseInteger(std::string_view AText, int64_t& AValue);
// The integer text at the front of AText as C's strtol finds it: after blanks, a sign
// and digits, for ParseInteger to read. Empty, at the start of AText, when no digit
// follows.
std::string_view LeadingInteger(std::string_view AText);

// ASCII case folding; the texts it is used on are option names and paths.
std::string UpperCase(std::string AText);
std::string LowerCase(std::string AText);

// Appends "/" unless the text already ends with one (an empty text stays empty).
std::string IncludeTrailingPathDelimiter(const std::string& AFolder);
// The part after the last "/" (the whole text without one).
std::string ExtractFileName(const std::string& AFileName);
// The file name part's extension from its last "." on, or empty.
std::string ExtractFileExt(const std::string& AFileName);

// "1:05" (or "1:02:03") for a duration in milliseconds, rounded to the second.
std::string FormatDuration(int64_t AMilliseconds);

// printf-style formatting into an owned string, never overrunning.
std::string FormatText(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* AFormat, va_list AArgs);
