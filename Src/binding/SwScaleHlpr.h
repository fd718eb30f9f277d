// Binding of swscale: its entry pointers, typed with the library header's prototypes.
#pragma once

#include <string>

#include "LibModule.h"

extern "C" {
#include <libswscale/swscale.h>
}

#define PEMMET_SWSCALE_ENTRIES(X) \
  X(swscale_version) \
  X(sws_getContext) \
  X(sws_freeContext) \
  X(sws_getCachedContext) \
  X(sws_scale) \
  X(sws_get_class) \
  X(sws_isSupportedInput) \
  X(sws_isSupportedOutput)

namespace av {
PEMMET_SWSCALE_ENTRIES(PEMMET_DECLARE_ENTRY)
}

bool LoadSwScaleLib(std::string& AError, const std::string& AFolder, bool AVersioned);
PEMMET_DECLARE_BINDING(SwScale)
