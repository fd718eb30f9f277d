#include "WindowSettings.h"

#include "MyUtils.h"

namespace {

// An integer key; ADefault when it is missing or not a number.
int ReadInt(const TIniFile& AIni, const char* AKey, int ADefault) {
  int32_t Value = 0;
  if (!ParseInteger(AIni.ReadString(TSettings::Section, AKey, ""), Value)) return ADefault;
  return Value >= -1 && Value <= 1000000 ? Value : ADefault;
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
