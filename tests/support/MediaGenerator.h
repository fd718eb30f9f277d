// Small media files for the tests, made with the libraries' own encoders and muxers
// through the binding. Every function needs the libraries loaded (LoadSystemLibraries)
// and throws std::runtime_error, naming the file and the step, when a file cannot be
// made. Keep the files short: a second or two is enough for every suite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

// One audio track: a sum of sines at the given frequencies, the same on every channel.
struct TAudioTrack {
  std::string Codec = "flac";  // encoder name; see VorbisEncoderName for Vorbis
  int SampleRate = 44100;
  int Channels = 2;
  std::vector<double> Frequencies{440.0};
  int64_t BitRate = 0;   // bit/s; 0 leaves the encoder's default
  std::string Language;  // the stream's "language" tag when not empty
};

// A moving test pattern: diagonal luma ramps and a bright bar that advance each frame.
struct TVideoTrack {
  std::string Codec = "mpeg4";
  int Width = 320;
  int Height = 240;
  AVRational FrameRate{25, 1};
  AVRational SampleAspect{1, 1};
  int64_t BitRate = 400000;
};

// One subtitle event, times in seconds from the start of the file.
struct TSubtitleCue {
  double Start = 0;
  double End = 0;
  std::string Text;
};

struct TSubtitleTrack {
  std::string Codec = "subrip";  // "subrip", "srt", "ass", "webvtt", ...
  std::vector<TSubtitleCue> Cues{{0.1, 0.6, "Hello"}, {0.7, 1.2, "World"}};
  std::string Language;
};

// Any mix of tracks in one file. Streams are created in this order: video (when
// present), the audio tracks in list order, the subtitle track (when present).
struct TMediaSpec {
  std::string FileName;
  std::string Format;  // muxer name: "ogg", "flac", "wav", "mp2", "avi", "matroska", ...
  double Seconds = 1.0;
  bool HasVideo = false;
  TVideoTrack Video;
  std::vector<TAudioTrack> Audio;
  bool HasSubtitle = false;
  TSubtitleTrack Subtitle;
};

void MakeMedia(const TMediaSpec& ASpec);

// A tone or chord alone in a file of its own format.
struct TToneSpec {
  std::string FileName;
  std::string Format = "wav";
  std::string Codec = "pcm_s16le";
  int SampleRate = 44100;
  int Channels = 2;
  double Seconds = 1.0;
  std::vector<double> Frequencies{440.0};
  int64_t BitRate = 0;
};
void MakeTone(const TToneSpec& ASpec);

// Video with one audio track (MP2 by default): AVI or Matroska.
struct TVideoSpec {
  std::string FileName;
  std::string Format = "avi";
  double Seconds = 1.0;
  TVideoTrack Video;
  bool WithAudio = true;
  TAudioTrack Audio{"mp2", 44100, 2, {440.0}, 128000, ""};
};
void MakeVideo(const TVideoSpec& ASpec);

// One audio track and one subtitle track, Matroska by default.
struct TSubtitledSpec {
  std::string FileName;
  std::string Format = "matroska";
  double Seconds = 1.5;
  TAudioTrack Audio;
  TSubtitleTrack Subtitle;
};
void MakeSubtitled(const TSubtitledSpec& ASpec);

// Two audio tracks in one file (Matroska by default).
void MakeTwoAudioStreams(const std::string& AFileName, const TAudioTrack& AFirst,
                         const TAudioTrack& ASecond, double ASeconds = 1.0,
                         const std::string& AFormat = "matroska");

// "libvorbis" when the library has it, otherwise the library's own "vorbis" encoder.
// libvorbis leaks a block for six channels (its own fault): sanitizer runs report it.
std::string VorbisEncoderName();

// The reverse, for checks: every decoded sample of one audio stream (AStreamIndex -1:
// the first audio stream), interleaved, as values in [-1, 1].
struct TDecodedAudio {
  int SampleRate = 0;
  int Channels = 0;
  std::vector<double> Samples;
  int64_t Frames() const { return Channels > 0 ? int64_t(Samples.size()) / Channels : 0; }
};
TDecodedAudio DecodeAudio(const std::string& AFileName, int AStreamIndex = -1);

// The signal the generator writes, sample ASampleIndex at ASampleRate, in [-1, 1]:
// suites that decode a file again compare against it.
double ToneSample(const std::vector<double>& AFrequencies, int64_t ASampleIndex, int ASampleRate);

// The reverse for video: every decoded picture of one video stream (AStreamIndex -1:
// the first video stream), with its time, and the first and last pictures' planes.
struct TDecodedPicture {
  int Width = 0;
  int Height = 0;
  int Format = -1;  // AVPixelFormat
  std::vector<uint8_t> Planes[3];  // 8-bit planar formats only; rows without padding
  int PlaneWidth[3]{};
  uint8_t At(int APlane, int AX, int AY) const { return Planes[APlane][size_t(AY) * PlaneWidth[APlane] + AX]; }
};
struct TDecodedVideo {
  std::string Codec;
  int Width = 0;
  int Height = 0;
  int Format = -1;             // AVPixelFormat of the stream
  AVRational FrameRate{0, 1};  // the stream's average frame rate
  std::vector<double> Times;   // seconds, one per decoded picture, in output order
  TDecodedPicture First;
  TDecodedPicture Last;
  size_t Frames() const { return Times.size(); }
};
TDecodedVideo DecodeVideo(const std::string& AFileName, int AStreamIndex = -1);

// The packets of the first stream of one type (AMediaType), as the demuxer gives them.
struct TPacketInfo {
  double Pts = 0;       // seconds; NaN when absent
  double Duration = 0;  // seconds
  int Size = 0;
  bool Key = false;
};
struct TStreamPackets {
  std::string Codec;  // codec name; empty when the file has no such stream
  std::vector<TPacketInfo> Packets;
  std::vector<std::string> Texts;  // subtitles: the decoded text (or "bitmap") of each event
};
TStreamPackets ReadPackets(const std::string& AFileName, int AMediaType);

// One audio track and one subtitle track of pictures (a 64 x 16 bar per cue; the
// cue texts only tell the events apart), for bitmap encoders such as "dvdsub" and
// "dvbsub". Matroska by default.
void MakeBitmapSubtitled(const TSubtitledSpec& ASpec);

// MPEG-4 video whose picture size changes in the middle of its one stream: AFrames
// pictures at the first size, then AFrames at the second, 25 per second. AVI by
// default (each part starts with its own headers).
void MakeVideoWithSizeChange(const std::string& AFileName, int AFirstWidth, int AFirstHeight, int ASecondWidth,
                             int ASecondHeight, int AFrames, const std::string& AFormat = "avi");
