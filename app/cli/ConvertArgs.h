// The command line of pemmet-convert.
#pragma once

#include <string>
#include <vector>

#include "BatchDriver.h"

struct TConvertArgs {
  std::vector<std::string> Files;
  TBatchSettings Batch;  // the folder, the same-folder choice, -j, -b, --opt and --log-level
  bool Demo = false;
  bool Help = false;
  bool Version = false;
};

// False with the reason in AError for a usage error.
bool ParseConvertArgs(const std::vector<std::string>& AArgs, TConvertArgs& AResult, std::string& AError);
std::string ConvertUsage();
