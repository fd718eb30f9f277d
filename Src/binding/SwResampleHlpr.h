// Binding of swresample: its entry pointers, typed with the library header's prototypes.
#pragma once

#include <string>

#include "LibModule.h"

extern "C" {
#include <libswresample/swresample.h>
}

#define PEMMET_SWRESAMPLE_ENTRIES(X) \
  X(swresample_version) \
  X(swr_alloc) \
  X(swr_alloc_set_opts2) \
  X(swr_init) \
  X(swr_free) \
  X(swr_convert) \
  X(swr_set_compensation) \
  X(swr_get_delay) \
  X(swr_get_out_samples)

namespace av {
PEMMET_SWRESAMPLE_ENTRIES(PEMMET_DECLARE_ENTRY)
}

bool LoadSwResampleLib(std::string& AError, const std::string& AFolder, bool AVersioned);
PEMMET_DECLARE_BINDING(SwResample)
