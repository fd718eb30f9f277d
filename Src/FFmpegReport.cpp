// Progress reports: values for the host's progress handler, or a text line, and the
// summary of where the output's bytes went.
#include <cmath>

#include "FFmpegRun.h"
#include "MyUtils.h"

void TCustomFFmpeg::PrintReport(bool AIsLast) {
  if (OutputFileCount <= 0 || !RunTables) return;
  AVIOContext* Io = OutputFiles[0]->pb;
  int64_t TotalSize = Io ? av::avio_size(Io) : 0;
  if (TotalSize < 0) TotalSize = av::avio_seek(Io, 0, SEEK_CUR);
  if (TotalSize < 0) TotalSize = 0;

  int32_t FrameNumber = -1, Fps = -1;
  float Quality = -1.0f;
  std::string Text;
  bool VideoReported = false;
  double OutTime = 1e10;
  for (const auto& Ost : RunTables->OutputStreams) {
    if (Ost->St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      const float Q = -1.0f;  // the quality of copied video is unknown
      if (VideoReported) {
        Text += FormatText("q=%2.1f ", Q);
      } else {
        const double T = static_cast<double>(av::av_gettime() - TimerStart) / 1000000.0;
        FrameNumber = Ost->FrameNumber;
        if (FrameNumber < 1) return;  // nothing to say before the first picture
        Fps = T > 1.0 ? static_cast<int32_t>(FrameNumber / T + 0.5) : 0;
        Quality = Q;
        Text += FormatText("frame=%5d fps=%3d q=%3.1f ", FrameNumber, Fps, Quality);
        if (AIsLast) Text += "L";
        VideoReported = true;
      }
    }
    const double Time = Ost->MuxedEnd * av_q2d(Ost->St->time_base);
    if (Time > 0 && Time < OutTime) OutTime = Time;
  }
  if (OutTime < 0.01) OutTime = 0.01;

  if (OnProgressHandler || Verbose > 0 || AIsLast) {
    const double BitRate = TotalSize * 8 / OutTime / 1000;
    Text += FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", TotalSize / 1024.0, OutTime, BitRate);
    if (Verbose > 1) Text += FormatText(" dup=%d drop=%d", FramesDup, FramesDrop);
    if (OnProgressHandler) {
      // Before any stream has advanced there is no output time yet: report 0.
      const int32_t CurrentMs = OutTime >= 1e10 ? 0 : static_cast<int32_t>(std::min(OutTime * 1000, 2147483647.0));
      OnProgressHandler(this, FrameNumber, Fps, CurrentMs, Quality, static_cast<float>(BitRate), TotalSize,
                        TotalDuration);
    } else if (Verbose >= 0) {
      Log(1, Text);
    }
  }
  if (AIsLast && Verbose >= 0) {
    const int64_t Raw = VideoSize + AudioSize + ExtraSize;
    // Nothing encoded: no overhead can be computed.
    const std::string Overhead =
        Raw > 0 ? FormatText("%.2f%%", (TotalSize - Raw) * 100.0 / Raw) : std::string("unknown");
    Log(1, FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %s\r\n", VideoSize / 1024.0,
                      AudioSize / 1024.0, ExtraSize / 1024.0, Overhead.c_str()));
  }
}
