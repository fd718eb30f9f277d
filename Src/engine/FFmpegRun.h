// The tables one transcode builds: its input files, input streams and output
// streams, with the per-stream state of the decoding, resampling and encoding.
#pragma once

#include <memory>
#include <vector>

#include "FFmpeg.h"

struct InputFileState {
  bool EofReached = false;
  int32_t IstIndex = 0;  // position of the file's first stream in the input stream table
  int32_t NbStreams = 0;
};

struct InputStream {
  int32_t FileIndex = 0;
  int32_t Index = 0;
  AVStream* St = nullptr;
  AVCodecContext* Decoder = nullptr;  // owned by the engine's InputCodecs
  bool Discard = true;                 // no output stream takes this stream's data
  bool DecodingNeeded = false;
  bool RateEmu = false;
  int64_t Start = 0;  // wall clock at set-up, for rate emulation
  uint32_t Frame = 0;
  int64_t NextPts = NoPtsValue;  // µs
  int64_t Pts = 0;               // µs
  bool IsStart = true;           // the audio path has not corrected the sync yet
  TFramePtr Decoded;
  float Quality = 0;        // of the last decoded picture, for "same quality" encoding
  TFramePtr Deinterlaced;   // the engine's own copy of a deinterlaced picture
};

// A decoded subtitle; its rectangles and texts belong to it until it is released.
class TSubtitle {
public:
  TSubtitle() = default;
  ~TSubtitle() { Release(); }
  TSubtitle(const TSubtitle&) = delete;
  TSubtitle& operator=(const TSubtitle&) = delete;
  AVSubtitle* Get() { return &FValue; }
  void Release() { av::avsubtitle_free(&FValue); }

private:
  AVSubtitle FValue{};
};

// Plane pointers and line sizes of a picture or of a window into one; it owns nothing.
struct TPictureView {
  uint8_t* Data[4]{};
  int Lines[4]{};
  int Width = 0;
  int Height = 0;
  AVPixelFormat Format = AV_PIX_FMT_NONE;
};

inline TPictureView ViewOfFrame(const AVFrame* AFrame) {
  TPictureView View;
  for (int P = 0; P < 4; ++P) {
    View.Data[P] = AFrame->data[P];
    View.Lines[P] = AFrame->linesize[P];
  }
  View.Width = AFrame->width;
  View.Height = AFrame->height;
  View.Format = static_cast<AVPixelFormat>(AFrame->format);
  return View;
}

// The encoder's statistics of the last video packet that carried them.
struct TVideoQuality {
  bool Known = false;
  int Quality = 0;  // lambda
  AVPictureType PictType = AV_PICTURE_TYPE_NONE;
  uint64_t Error[4]{};     // of that picture, per plane
  uint64_t ErrorSum[4]{};  // of all pictures so far
};

// The vertical (-1 4 2 4 -1)/8 low-pass that replaces the second field's rows, on
// every plane of a planar 8-bit YUV picture. ATarget may not be ASource. Negative
// for any other format.
int DeinterlacePicture(const TPictureView& ATarget, const TPictureView& ASource);

// Sample planes allocated by the library, kept and grown as blocks need.
class TSampleBuffer {
public:
  TSampleBuffer() = default;
  ~TSampleBuffer() { Free(); }
  TSampleBuffer(const TSampleBuffer&) = delete;
  TSampleBuffer& operator=(const TSampleBuffer&) = delete;
  // Room for at least ASamples samples; false when it cannot be had.
  bool Reserve(int ASamples, int AChannels, AVSampleFormat AFormat) {
    if (FPlanes && ASamples <= FCapacity) return true;
    Free();
    if (av::av_samples_alloc_array_and_samples(&FPlanes, nullptr, AChannels, ASamples, AFormat, 0) < 0) {
      FPlanes = nullptr;
      return false;
    }
    FCapacity = ASamples;
    return true;
  }
  uint8_t** Planes() const { return FPlanes; }

private:
  void Free() {
    if (!FPlanes) return;
    av::av_freep(&FPlanes[0]);
    av::av_freep(&FPlanes);
    FCapacity = 0;
  }
  uint8_t** FPlanes = nullptr;
  int FCapacity = 0;
};

// The part of a decoded audio block that goes on to the encoder.
struct TAudioBlock {
  const AVFrame* Frame = nullptr;
  int Channels = 0;
  int Rate = 0;
  AVSampleFormat Format = AV_SAMPLE_FMT_NONE;
  int Skip = 0;      // samples left out at the front
  int Samples = 0;   // samples taken from there on
  double Start = 0;  // time of the first sample taken, in seconds from the start position
};

struct OutputStream {
  int32_t FileIndex = 0;
  int32_t Index = 0;
  int32_t SourceIndex = 0;
  AVStream* St = nullptr;
  AVCodecContext* Encoder = nullptr;  // owned by the engine's OutputCodecs
  TOutputStreamCodec* Setup = nullptr;
  bool EncodingNeeded = false;
  int32_t FrameNumber = 0;
  InputStream* SyncIst = nullptr;
  int64_t SyncOpts = 0;
  // End of the last packet handed to the muxer, in the stream's time base: the
  // stream's current time.
  int64_t MuxedEnd = 0;
  bool AudioResample = false;
  TSwrContextPtr Resample;
  // What the resampler was made for, so a change of input format makes a new one.
  AVSampleFormat ResampleInFormat = AV_SAMPLE_FMT_NONE;
  int ResampleInRate = 0;
  int ResampleInChannels = 0;
  TAudioFifoPtr Fifo;
  std::vector<const uint8_t*> InPlanes;  // the decoded block's planes from its first kept sample
  TSampleBuffer Converted;  // resampler output
  TSampleBuffer Silence;    // inserted to keep the audio in step
  TFramePtr EncoderFrame;
  TPacketPtr EncodedPacket;
  // Video geometry: the input window (crop), the inner area of the encoder's picture
  // (pad), and the scaler between them when their sizes or formats differ.
  bool VideoResample = false;
  TFramePtr PictTmp;
  TSwsContextPtr ImgResampleCtx;
  int32_t ResampleHeight = 0;
  bool VideoCrop = false;
  int32_t TopBand = 0, LeftBand = 0, BottomBand = 0, RightBand = 0;
  bool VideoPad = false;
  int32_t PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
  TVideoQuality VideoQuality;
  std::vector<TBsfContextPtr> BitstreamFilters;
  TMyFilePtr LogFile;
  // The video filter graph, when the run has a chain; its two ends belong to it.
  TFilterGraphPtr FilterGraph;
  AVFilterContext* InputVideoFilter = nullptr;
  AVFilterContext* OutputVideoFilter = nullptr;
  TFramePtr FilteredPicture;  // the picture last taken out of the graph
  // The graph's source takes one geometry; pictures of another are scaled to it first.
  int32_t FilterWidth = 0, FilterHeight = 0;
  AVPixelFormat FilterFormat = AV_PIX_FMT_NONE;
  TSwsContextPtr FilterInputScaler;
  TFramePtr FilterInput;
};

struct TRunTables {
  std::vector<InputFileState> Files;
  std::vector<std::unique_ptr<InputStream>> InputStreams;
  std::vector<std::unique_ptr<OutputStream>> OutputStreams;
  TPacketPtr Packet;
  TPacketPtr CopyPacket;
  // The subtitle encoders' output, made on first use.
  TAVMemPtr<uint8_t> SubtitleOut;
};
