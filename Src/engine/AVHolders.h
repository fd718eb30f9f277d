// Owners for the codec libraries' objects: each deleter calls the matching free
// function through the binding, so nothing a run allocates outlives it.
#pragma once

#include <cstdio>
#include <memory>

#include "AVCodecHlpr.h"
#include "AVFilterHlpr.h"
#include "AVFormatHlpr.h"
#include "AVUtilHlpr.h"
#include "MyUtilHlpr.h"
#include "SwResampleHlpr.h"
#include "SwScaleHlpr.h"

struct TCodecContextDeleter {
  void operator()(AVCodecContext* A) const { av::avcodec_free_context(&A); }
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextDeleter>;

// An opened input: closing frees the context and its streams.
struct TInputContextDeleter {
  void operator()(AVFormatContext* A) const { av::avformat_close_input(&A); }
};
using TInputContextPtr = std::unique_ptr<AVFormatContext, TInputContextDeleter>;

// A format context that was never opened for reading (outputs, option holders).
struct TFormatContextDeleter {
  void operator()(AVFormatContext* A) const { av::avformat_free_context(A); }
};
using TFormatContextPtr = std::unique_ptr<AVFormatContext, TFormatContextDeleter>;

struct TSwsContextDeleter {
  void operator()(SwsContext* A) const { av::sws_freeContext(A); }
};
using TSwsContextPtr = std::unique_ptr<SwsContext, TSwsContextDeleter>;

struct TSwrContextDeleter {
  void operator()(SwrContext* A) const { av::swr_free(&A); }
};
using TSwrContextPtr = std::unique_ptr<SwrContext, TSwrContextDeleter>;

struct TFrameDeleter {
  void operator()(AVFrame* A) const { av::av_frame_free(&A); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;

struct TPacketDeleter {
  void operator()(AVPacket* A) const { av::av_packet_free(&A); }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

struct TAudioFifoDeleter {
  void operator()(AVAudioFifo* A) const { av::av_audio_fifo_free(A); }
};
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TAudioFifoDeleter>;

struct TBsfContextDeleter {
  void operator()(AVBSFContext* A) const { av::av_bsf_free(&A); }
};
using TBsfContextPtr = std::unique_ptr<AVBSFContext, TBsfContextDeleter>;

struct TFilterGraphDeleter {
  void operator()(AVFilterGraph* A) const { av::avfilter_graph_free(&A); }
};
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFilterGraphDeleter>;

// The open ends handed to the graph parser; it takes what it links and leaves the rest.
struct TFilterInOutDeleter {
  void operator()(AVFilterInOut* A) const { av::avfilter_inout_free(&A); }
};
using TFilterInOutPtr = std::unique_ptr<AVFilterInOut, TFilterInOutDeleter>;

// Memory from av_malloc and its relatives.
struct TAVFreeDeleter {
  void operator()(void* A) const { av::av_free(A); }
};
template <class T>
using TAVMemPtr = std::unique_ptr<T, TAVFreeDeleter>;

// An options dictionary; the libraries take and give back its address.
class TDictionary {
public:
  TDictionary() = default;
  ~TDictionary() { Free(); }
  TDictionary(const TDictionary&) = delete;
  TDictionary& operator=(const TDictionary&) = delete;
  AVDictionary** Address() { return &FDict; }
  AVDictionary* Get() const { return FDict; }
  void Free() {
    if (FDict) av::av_dict_free(&FDict);
  }

private:
  AVDictionary* FDict = nullptr;
};

// A stream opened with my_fopen is closed with my_fclose of the same runtime.
struct TMyFileDeleter {
  void operator()(FILE* A) const { av::my_fclose(A); }
};
using TMyFilePtr = std::unique_ptr<FILE, TMyFileDeleter>;
