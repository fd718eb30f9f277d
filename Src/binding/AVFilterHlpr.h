// Binding of avfilter: its entry pointers, typed with the library header's prototypes.
#pragma once

#include <string>

#include "LibModule.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersrc.h>
#include <libavfilter/buffersink.h>
}

#define PEMMET_AVFILTER_ENTRIES(X) \
  X(avfilter_version) \
  X(avfilter_get_by_name) \
  X(avfilter_graph_alloc) \
  X(avfilter_graph_free) \
  X(avfilter_graph_create_filter) \
  X(avfilter_graph_parse_ptr) \
  X(avfilter_graph_config) \
  X(avfilter_inout_alloc) \
  X(avfilter_inout_free) \
  X(avfilter_link) \
  X(av_buffersrc_add_frame_flags) \
  X(av_buffersink_get_frame) \
  X(av_buffersink_get_frame_flags) \
  X(av_buffersink_get_time_base)

namespace av {
PEMMET_AVFILTER_ENTRIES(PEMMET_DECLARE_ENTRY)
}

// ARegisterAll is kept for callers; this library generation registers itself.
bool LoadAVFilterLib(std::string& AError, const std::string& AFolder, bool AVersioned, bool ARegisterAll);
PEMMET_DECLARE_BINDING(AVFilter)
