// Binding of avutil: its entry pointers, typed with the library header's prototypes.
#pragma once

#include <string>

#include "LibModule.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/error.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
#include <libavutil/frame.h>
#include <libavutil/time.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/channel_layout.h>
#include <libavutil/avstring.h>
#include <libavutil/eval.h>
}

#define PEMMET_AVUTIL_ENTRIES(X) \
  X(avutil_version) \
  X(av_log_set_callback) \
  X(av_log_default_callback) \
  X(av_log_get_level) \
  X(av_log_set_level) \
  X(av_log) \
  X(av_vlog) \
  X(av_log_format_line2) \
  X(av_strdup) \
  X(av_malloc) \
  X(av_mallocz) \
  X(av_realloc) \
  X(av_free) \
  X(av_freep) \
  X(av_strerror) \
  X(av_strlcpy) \
  X(av_strstart) \
  X(av_reduce) \
  X(av_rescale_q) \
  X(av_rescale) \
  X(av_rescale_rnd) \
  X(av_compare_ts) \
  X(av_gettime) \
  X(av_dict_set) \
  X(av_dict_set_int) \
  X(av_dict_get) \
  X(av_dict_copy) \
  X(av_dict_count) \
  X(av_dict_free) \
  X(av_opt_find) \
  X(av_opt_set) \
  X(av_opt_set_int) \
  X(av_opt_set_bin) \
  X(av_opt_get) \
  X(av_opt_get_int) \
  X(av_opt_set_defaults) \
  X(av_opt_next) \
  X(av_frame_alloc) \
  X(av_frame_free) \
  X(av_frame_unref) \
  X(av_frame_get_buffer) \
  X(av_frame_make_writable) \
  X(av_frame_copy_props) \
  X(av_parse_video_size) \
  X(av_parse_video_rate) \
  X(av_parse_time) \
  X(av_parse_color) \
  X(av_get_pix_fmt) \
  X(av_get_pix_fmt_name) \
  X(av_pix_fmt_desc_get) \
  X(av_pix_fmt_desc_next) \
  X(av_get_bits_per_pixel) \
  X(av_pix_fmt_desc_get_id) \
  X(av_get_sample_fmt) \
  X(av_get_sample_fmt_name) \
  X(av_get_sample_fmt_string) \
  X(av_get_bytes_per_sample) \
  X(av_sample_fmt_is_planar) \
  X(av_samples_alloc) \
  X(av_samples_alloc_array_and_samples) \
  X(av_samples_set_silence) \
  X(av_audio_fifo_alloc) \
  X(av_audio_fifo_free) \
  X(av_audio_fifo_write) \
  X(av_audio_fifo_read) \
  X(av_audio_fifo_size) \
  X(av_audio_fifo_drain) \
  X(av_image_get_buffer_size) \
  X(av_image_fill_arrays) \
  X(av_image_copy) \
  X(av_image_alloc) \
  X(av_channel_layout_default) \
  X(av_channel_layout_uninit) \
  X(av_channel_layout_copy) \
  X(av_channel_layout_describe) \
  X(av_get_media_type_string) \
  X(av_d2q) \
  X(av_frame_ref) \
  X(av_frame_is_writable) \
  X(av_get_picture_type_char)

namespace av {
PEMMET_AVUTIL_ENTRIES(PEMMET_DECLARE_ENTRY)
}

bool LoadAVUtilLib(std::string& AError, const std::string& AFolder, bool AVersioned);
PEMMET_DECLARE_BINDING(AVUtil)
