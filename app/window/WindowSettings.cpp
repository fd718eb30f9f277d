#include "WindowSettings.h"

#include <cstdlib>

namespace {

// An integer key; ADefault when it is missing or not a number.
int ReadInt(const TIniFile& AIni, const char* AKey, int ADefault) {
  const std::string Text = AIni.ReadString(TSettings::Section, AKey, "");
  if (Text.empty()) return ADefault;
  char* End = nullptr;
  const long Value = std::strtol(Text.c_str(), &End, 10);
  return (*End == '\0' && Value >= -1 && Value <= 1000000) ? static_cast<int>(Value) : ADefault;
}

}  // namespace

TWindowSettings::TWindowSettings(TSettingsPlaces APlaces) : Common(std::move(APlaces)) {}

void TWindowSettings::Load() {
  Common.Load();
  TIniFile Ini;
  Ini.Load(Common.FileName());
  Jobs = ReadInt(Ini, JobsKey, -1);
  BitrateKbits = ReadInt(Ini, BitrateKey, -1);
  ShowPicture = Ini.ReadBool(TSettings::Section, PictureKey, true);
  Geometry = QByteArray::fromBase64(QByteArray::fromStdString(Ini.ReadString(TSettings::Section, GeometryKey, "")));
}

bool TWindowSettings::Save() const {
  if (!Common.Save()) return false;
  TIniFile Ini;
  if (!Ini.Load(Common.FileName())) return false;
  Ini.WriteString(TSettings::Section, JobsKey, std::to_string(Jobs));
  Ini.WriteString(TSettings::Section, BitrateKey, std::to_string(BitrateKbits));
  Ini.WriteBool(TSettings::Section, PictureKey, ShowPicture);
  Ini.WriteString(TSettings::Section, GeometryKey, Geometry.toBase64().toStdString());
  return Ini.Save(Common.FileName());
}
