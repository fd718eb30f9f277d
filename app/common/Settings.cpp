#include "Settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "MyUtils.h"
#include "Platform.h"

// ---------------------------------------------------------------------------
// Profile file

namespace {

bool SameName(const std::string& A, const std::string& B) { return LowerCase(A) == LowerCase(B); }

bool IsComment(const std::string& ALine) {
  const std::string Line = Trim(ALine);
  return !Line.empty() && (Line[0] == ';' || Line[0] == '#');
}

// The name of a "[Section]" line.
bool SectionHeader(const std::string& ALine, std::string& AName) {
  const std::string Line = Trim(ALine);
  if (Line.size() < 2 || Line.front() != '[') return false;
  const size_t Close = Line.find(']');
  if (Close == std::string::npos) return false;
  AName = Trim(Line.substr(1, Close - 1));
  return true;
}

// The key and value of a "key=value" line.
bool KeyLine(const std::string& ALine, std::string& AKey, std::string& AValue) {
  if (IsComment(ALine)) return false;
  const size_t Equals = ALine.find('=');
  if (Equals == std::string::npos) return false;
  AKey = Trim(ALine.substr(0, Equals));
  AValue = Trim(ALine.substr(Equals + 1));
  return !AKey.empty();
}

bool ReadWholeFile(int AFile, std::string& AText) {
  struct stat St;
  if (fstat(AFile, &St) != 0 || !S_ISREG(St.st_mode)) return false;
  char Buffer[8192];
  for (;;) {
    const ssize_t Count = read(AFile, Buffer, sizeof Buffer);
    if (Count == 0) return true;
    if (Count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    AText.append(Buffer, static_cast<size_t>(Count));
  }
}

bool WriteWholeFile(int AFile, const std::string& AText) {
  size_t Done = 0;
  while (Done < AText.size()) {
    const ssize_t Count = write(AFile, AText.data() + Done, AText.size() - Done);
    if (Count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    Done += static_cast<size_t>(Count);
  }
  return fsync(AFile) == 0;
}

// A symbolic link to the settings is written through, not replaced by a file.
std::string WriteTarget(const std::string& AFileName) {
  std::error_code Error;
  if (!std::filesystem::is_symlink(AFileName, Error)) return AFileName;
  const std::filesystem::path Target = std::filesystem::weakly_canonical(AFileName, Error);
  return Error ? AFileName : Target.string();
}

}  // namespace

bool TIniFile::Load(const std::string& AFileName) {
  FLines.clear();
  FCrLf = false;
  const int File = open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (File < 0) return errno == ENOENT || errno == ENOTDIR;
  std::string Text;
  const bool Read = ReadWholeFile(File, Text);
  close(File);
  if (!Read) return false;
  SetText(Text);
  return true;
}

bool TIniFile::Save(const std::string& AFileName) const {
  const std::string Target = WriteTarget(AFileName);
  std::string Temporary = Target + ".XXXXXX";
  const int File = mkostemp(Temporary.data(), O_CLOEXEC);
  if (File < 0) return false;
  struct stat Old;
  fchmod(File, stat(Target.c_str(), &Old) == 0 ? (Old.st_mode & 07777) : 0644);
  const bool Written = WriteWholeFile(File, Text());
  if (close(File) != 0 || !Written || std::rename(Temporary.c_str(), Target.c_str()) != 0) {
    unlink(Temporary.c_str());
    return false;
  }
  return true;
}

void TIniFile::SetText(const std::string& AText) {
  FLines.clear();
  FCrLf = AText.find("\r\n") != std::string::npos;
  size_t Start = 0;
  while (Start < AText.size()) {
    size_t End = AText.find('\n', Start);
    if (End == std::string::npos) End = AText.size();
    std::string Line = AText.substr(Start, End - Start);
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    FLines.push_back(Line);
    Start = End + 1;
  }
}

std::string TIniFile::Text() const {
  const char* LineEnd = FCrLf ? "\r\n" : "\n";
  std::string Result;
  for (const std::string& Line : FLines) Result += Line + LineEnd;
  return Result;
}

int TIniFile::FindSection(const std::string& ASection) const {
  std::string Name;
  for (size_t I = 0; I < FLines.size(); ++I)
    if (SectionHeader(FLines[I], Name) && SameName(Name, ASection)) return static_cast<int>(I);
  return -1;
}

int TIniFile::FindKey(int AHeader, const std::string& AKey) const {
  std::string Name, Key, Value;
  for (size_t I = static_cast<size_t>(AHeader) + 1; I < FLines.size(); ++I) {
    if (SectionHeader(FLines[I], Name)) break;
    if (KeyLine(FLines[I], Key, Value) && SameName(Key, AKey)) return static_cast<int>(I);
  }
  return -1;
}

int TIniFile::SectionEnd(int AHeader) const {
  std::string Name;
  size_t End = static_cast<size_t>(AHeader) + 1;
  for (size_t I = End; I < FLines.size(); ++I) {
    if (SectionHeader(FLines[I], Name)) break;
    if (!Trim(FLines[I]).empty()) End = I + 1;
  }
  return static_cast<int>(End);
}

bool TIniFile::FindString(const std::string& ASection, const std::string& AKey, std::string& AValue) const {
  const int Header = FindSection(ASection);
  const int Line = Header < 0 ? -1 : FindKey(Header, AKey);
  if (Line < 0) return false;
  std::string Key;
  KeyLine(FLines[static_cast<size_t>(Line)], Key, AValue);
  return true;
}

std::string TIniFile::ReadString(const std::string& ASection, const std::string& AKey,
                                 const std::string& ADefault) const {
  std::string Value = ADefault;
  FindString(ASection, AKey, Value);
  return Value;
}

bool TIniFile::ReadBool(const std::string& ASection, const std::string& AKey, bool ADefault) const {
  std::string Value;
  if (!FindString(ASection, AKey, Value)) return ADefault;
  size_t Pos = (!Value.empty() && (Value[0] == '+' || Value[0] == '-')) ? 1 : 0;
  if (Pos == Value.size()) return ADefault;
  bool NonZero = false;
  for (; Pos < Value.size(); ++Pos) {
    if (Value[Pos] < '0' || Value[Pos] > '9') return ADefault;
    NonZero = NonZero || Value[Pos] != '0';
  }
  return NonZero;
}

bool TIniFile::WriteString(const std::string& ASection, const std::string& AKey, const std::string& AValue) {
  if (AValue.find_first_of("\r\n") != std::string::npos) return false;
  int Header = FindSection(ASection);
  if (Header < 0) {
    if (!FLines.empty() && !Trim(FLines.back()).empty()) FLines.emplace_back();
    FLines.push_back("[" + ASection + "]");
    Header = static_cast<int>(FLines.size()) - 1;
  }
  const int Line = FindKey(Header, AKey);
  if (Line >= 0) {
    std::string& Text = FLines[static_cast<size_t>(Line)];
    Text = Trim(Text.substr(0, Text.find('='))) + "=" + AValue;
  } else {
    FLines.insert(FLines.begin() + SectionEnd(Header), AKey + "=" + AValue);
  }
  return true;
}

bool TIniFile::WriteBool(const std::string& ASection, const std::string& AKey, bool AValue) {
  return WriteString(ASection, AKey, AValue ? "1" : "0");
}

// ---------------------------------------------------------------------------
// Places

std::string UserSettingsFolder(const std::string& AXdgConfigHome, const std::string& AHome) {
  // A relative configuration folder would depend on the current directory.
  if (!AXdgConfigHome.empty() && AXdgConfigHome[0] == '/')
    return IncludeTrailingPathDelimiter(AXdgConfigHome) + "pemmet/";
  return IncludeTrailingPathDelimiter(AHome) + ".config/pemmet/";
}

std::string UserHomeFolder() {
  std::string Home;
  if (const char* Env = std::getenv("HOME")) Home = Env;
  if (Home.empty()) {
    struct passwd Entry;
    struct passwd* Found = nullptr;
    char Buffer[4096];
    if (getpwuid_r(getuid(), &Entry, Buffer, sizeof Buffer, &Found) == 0 && Found && Found->pw_dir)
      Home = Found->pw_dir;
  }
  while (!Home.empty() && Home.back() == '/') Home.pop_back();
  return Home;
}

TSettingsPlaces TSettingsPlaces::OfThisProgram() {
  const char* Xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string Home = UserHomeFolder();
  return {Platform::ProgramFolder(), UserSettingsFolder(Xdg ? Xdg : "", Home), Home};
}

// ---------------------------------------------------------------------------
// Settings

namespace {
bool WritableFolder(const std::string& AFolder) {
  return !AFolder.empty() && DirectoryExists(AFolder) && access(AFolder.c_str(), W_OK) == 0;
}
}  // namespace

TSettings::TSettings(TSettingsPlaces APlaces) : FPlaces(std::move(APlaces)) { Output = DefaultOutput(); }

std::string TSettings::FileName() const {
  const std::string& Folder = WritableFolder(FPlaces.ProgramFolder) ? FPlaces.ProgramFolder : FPlaces.UserFolder;
  return IncludeTrailingPathDelimiter(Folder) + "conf.ini";
}

std::string TSettings::DefaultOutput() const {
  std::string Home = FPlaces.HomeFolder;
  while (!Home.empty() && Home.back() == '/') Home.pop_back();
  return Home + "/PemmetVideo";
}

bool TSettings::Load() {
  TIniFile Ini;
  const bool Read = Ini.Load(FileName());
  Output = Ini.ReadString(Section, OutputKey, DefaultOutput());
  SameFolder = Ini.ReadBool(Section, SameFolderKey, false);
  return Read;
}

bool TSettings::Save() const {
  const std::string Name = FileName();
  TIniFile Ini;
  // A file that is there but cannot be read now is not replaced: its other keys
  // would be lost.
  if (!Ini.Load(Name)) return false;
  if (!Ini.WriteString(Section, OutputKey, Output) || !Ini.WriteBool(Section, SameFolderKey, SameFolder))
    return false;
  std::error_code Ignored;
  std::filesystem::create_directories(std::filesystem::path(Name).parent_path(), Ignored);
  return Ini.Save(Name);
}
