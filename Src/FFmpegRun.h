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
};

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
  TSampleBuffer Converted;  // resampler output
  TSampleBuffer Silence;    // inserted to keep the audio in step
  TFramePtr EncoderFrame;
  TPacketPtr EncodedPacket;
  std::vector<TBsfContextPtr> BitstreamFilters;
  TMyFilePtr LogFile;
};

struct TRunTables {
  std::vector<InputFileState> Files;
  std::vector<std::unique_ptr<InputStream>> InputStreams;
  std::vector<std::unique_ptr<OutputStream>> OutputStreams;
  TPacketPtr Packet;
  TPacketPtr CopyPacket;
};
