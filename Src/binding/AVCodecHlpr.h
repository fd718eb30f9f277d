// Binding of avcodec: its entry pointers, typed with the library header's prototypes.
#pragma once

#include <string>

#include "LibModule.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
}

#define PEMMET_AVCODEC_ENTRIES(X) \
  X(avcodec_version) \
  X(avcodec_configuration) \
  X(avcodec_alloc_context3) \
  X(avcodec_free_context) \
  X(avcodec_open2) \
  X(avcodec_close) \
  X(avcodec_is_open) \
  X(avcodec_find_encoder) \
  X(avcodec_find_decoder) \
  X(avcodec_find_encoder_by_name) \
  X(avcodec_find_decoder_by_name) \
  X(avcodec_get_name) \
  X(av_codec_iterate) \
  X(avcodec_descriptor_get) \
  X(avcodec_string) \
  X(av_codec_is_encoder) \
  X(av_codec_is_decoder) \
  X(avcodec_parameters_alloc) \
  X(avcodec_parameters_free) \
  X(avcodec_parameters_to_context) \
  X(avcodec_parameters_from_context) \
  X(avcodec_parameters_copy) \
  X(avcodec_send_packet) \
  X(avcodec_receive_frame) \
  X(avcodec_send_frame) \
  X(avcodec_receive_packet) \
  X(avcodec_flush_buffers) \
  X(avcodec_decode_subtitle2) \
  X(avcodec_encode_subtitle) \
  X(avsubtitle_free) \
  X(avcodec_get_class) \
  X(av_packet_alloc) \
  X(av_packet_free) \
  X(av_packet_unref) \
  X(av_packet_ref) \
  X(av_packet_clone) \
  X(av_packet_rescale_ts) \
  X(av_packet_get_side_data) \
  X(av_get_bits_per_sample) \
  X(av_get_exact_bits_per_sample) \
  X(av_get_audio_frame_duration2) \
  X(av_bsf_get_by_name) \
  X(av_bsf_alloc) \
  X(av_bsf_init) \
  X(av_bsf_send_packet) \
  X(av_bsf_receive_packet) \
  X(av_bsf_free)

namespace av {
PEMMET_AVCODEC_ENTRIES(PEMMET_DECLARE_ENTRY)
}

// ARegisterAll is kept for callers; this library generation registers itself.
bool LoadAVCodecLib(std::string& AError, const std::string& AFolder, bool AVersioned, bool ARegisterAll);
PEMMET_DECLARE_BINDING(AVCodec)
