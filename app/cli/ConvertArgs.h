// The command line of pemmet-convert.
#pragma once

#include <string>
#include <vector>

#include "BatchDriver.h"

struct TConvertArgs {
  std::vector<std::string> Files;
  std::string OutputFolder;  // empty: the settings' folder
  bool SameFolder = false;
  int Jobs = -1;          // conversions at once; -1: one per processor; 0: on this thread
  int BitrateKbits = -1;  // -1: derived from each input
  std::vector<std::string> ExtraLines;  // "name=value", in the order given
  TLogLevel LogLevel = llError;
  bool Demo = false;
  bool Help = false;
  bool Version = false;
};

// False with the reason in AError for a usage error.
// What the batch driver is to do with them.
TBatchSettings BatchSettingsOf(const TConvertArgs& AArgs);

bool ParseConvertArgs(const std::vector<std::string>& AArgs, TConvertArgs& AResult, std::string& AError);
std::string ConvertUsage();
