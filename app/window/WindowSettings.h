// The window's settings: the output folder and the same-folder choice that the
// command line shares, and the window's own keys beside them in the same file.
#pragma once

#include <QByteArray>

#include "Settings.h"

struct TWindowSettings {
  static constexpr const char* JobsKey = "intJobs";
  static constexpr const char* BitrateKey = "intBitrate";
  static constexpr const char* PictureKey = "booShowPicture";
  static constexpr const char* GeometryKey = "strWindow";

  explicit TWindowSettings(TSettingsPlaces APlaces = TSettingsPlaces::OfThisProgram());

  // Missing keys and unreadable files give the defaults.
  void Load();
  // False when the file could not be written.
  bool Save() const;

  TSettings Common;
  int Jobs = -1;          // conversions at once; -1: one per processor
  int BitrateKbits = -1;  // -1: the source's
  bool ShowPicture = true;
  QByteArray Geometry;  // the window's place and size, as Qt saves it
};
