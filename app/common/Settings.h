// The application's settings: the output folder and the same-folder choice, kept in
// "conf.ini" between runs.
#pragma once

#include <string>
#include <vector>

// A profile file: "[Section]" lines and "key=value" lines. Section and key names
// match without regard to ASCII case. Every line the program does not change stays
// as it was, comments and unknown sections included.
class TIniFile {
public:
  // A missing file is an empty profile. False when a file is there but cannot be
  // read; the profile is empty then.
  bool Load(const std::string& AFileName);
  // Replaces the file whole through a temporary file beside it, so a failed write
  // leaves the old file intact. False when it cannot be written.
  bool Save(const std::string& AFileName) const;

  void SetText(const std::string& AText);
  std::string Text() const;

  // False when the key is missing (AValue untouched).
  bool FindString(const std::string& ASection, const std::string& AKey, std::string& AValue) const;
  std::string ReadString(const std::string& ASection, const std::string& AKey, const std::string& ADefault) const;
  // Any non-zero integer is true, zero false; a missing key or one that is not an
  // integer gives ADefault.
  bool ReadBool(const std::string& ASection, const std::string& AKey, bool ADefault) const;

  // Replaces the key's value, or adds the key at the end of its section (the
  // section at the end of the file). False, changing nothing, for a value with a
  // line break, which would spill into lines of its own.
  bool WriteString(const std::string& ASection, const std::string& AKey, const std::string& AValue);
  bool WriteBool(const std::string& ASection, const std::string& AKey, bool AValue);

private:
  // Index of the section's header line, or -1.
  int FindSection(const std::string& ASection) const;
  // Index of the key's line inside the section starting at AHeader, or -1.
  int FindKey(int AHeader, const std::string& AKey) const;
  // Index one past the section's last key line.
  int SectionEnd(int AHeader) const;

  std::vector<std::string> FLines;
  bool FCrLf = false;  // the file's own line ends are kept
};

// Where the settings may live.
struct TSettingsPlaces {
  std::string ProgramFolder;  // the program file's folder; used when writable
  std::string UserFolder;     // otherwise this one, created when needed
  std::string HomeFolder;     // the default output folder lies below it

  // The running program's folder, the user's configuration folder and home folder.
  static TSettingsPlaces OfThisProgram();
};

// $XDG_CONFIG_HOME/pemmet/ when that is an absolute path, else HOME/.config/pemmet/.
std::string UserSettingsFolder(const std::string& AXdgConfigHome, const std::string& AHome);
// $HOME, or the account's home folder when it is not set; without a trailing "/".
std::string UserHomeFolder();

class TSettings {
public:
  static constexpr const char* Section = "Main";
  static constexpr const char* OutputKey = "strOutput";
  static constexpr const char* SameFolderKey = "booSameFolder";

  explicit TSettings(TSettingsPlaces APlaces = TSettingsPlaces::OfThisProgram());

  // "conf.ini" in the program's folder when that folder is writable, else in the
  // user's folder.
  std::string FileName() const;
  std::string DefaultOutput() const;

  // Reads both values; a missing file, or one that cannot be read, gives the
  // defaults. False only in the second case.
  bool Load();
  // Writes both values, keeping every other line of the file as it is on disk now.
  // False when the changes could not be stored; the file is then left untouched.
  bool Save() const;

  std::string Output;
  bool SameFolder = false;

private:
  TSettingsPlaces FPlaces;
};
