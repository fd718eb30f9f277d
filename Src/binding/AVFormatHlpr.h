// Binding of avformat: its entry pointers, typed with the library header's prototypes.
#pragma once

#include <string>

#include "LibModule.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
}

#define PEMMET_AVFORMAT_ENTRIES(X) \
  X(avformat_version) \
  X(avformat_alloc_context) \
  X(avformat_free_context) \
  X(avformat_alloc_output_context2) \
  X(avformat_open_input) \
  X(avformat_close_input) \
  X(avformat_find_stream_info) \
  X(avformat_new_stream) \
  X(avformat_get_class) \
  X(av_guess_format) \
  X(av_muxer_iterate) \
  X(av_demuxer_iterate) \
  X(av_guess_codec) \
  X(av_find_input_format) \
  X(av_find_best_stream) \
  X(av_filename_number_test) \
  X(avformat_write_header) \
  X(av_write_trailer) \
  X(av_interleaved_write_frame) \
  X(av_write_frame) \
  X(av_read_frame) \
  X(av_read_pause) \
  X(av_read_play) \
  X(av_seek_frame) \
  X(avformat_seek_file) \
  X(av_dump_format) \
  X(av_sdp_create) \
  X(av_pkt_dump_log2) \
  X(av_hex_dump_log) \
  X(av_codec_get_id) \
  X(av_codec_get_tag) \
  X(avformat_query_codec) \
  X(avio_open) \
  X(avio_open2) \
  X(avio_closep) \
  X(avio_size) \
  X(avio_seek) \
  X(avio_write) \
  X(avio_flush) \
  X(avio_feof)

namespace av {
PEMMET_AVFORMAT_ENTRIES(PEMMET_DECLARE_ENTRY)
}

// ARegisterAll is kept for callers; this library generation registers itself.
bool LoadAVFormatLib(std::string& AError, const std::string& AFolder, bool AVersioned, bool ARegisterAll);
PEMMET_DECLARE_BINDING(AVFormat)
