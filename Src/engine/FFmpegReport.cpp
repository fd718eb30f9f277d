// Progress reports: values for the host's progress handler, or a text line, and the
// summary of where the output's bytes went.
#include <algorithm>
#include <cmath>

#include "FFmpegRun.h"
#include "MyUtils.h"

namespace {

double Psnr(double AError, double AScale) { return -10.0 * std::log10(AError / AScale); }

}  // namespace

// Counts the quantiser of the last picture, and shows the counts of quantisers 0 to 31
// as one hexadecimal digit each, on a logarithmic scale.
std::string TCustomFFmpeg::QpHistogramText(int ALambda) {
  const long Qp = std::lround(static_cast<double>(ALambda) / FF_QP2LAMBDA);
  if (Qp >= 0 && Qp < static_cast<long>(QpHistogram.size())) ++QpHistogram[Qp];
  std::string Text;
  for (int J = 0; J < 32; ++J)
    Text += FormatText("%X", static_cast<unsigned>(std::lround(std::log2(QpHistogram[J] + 1.0))));
  return Text;
}

// The peak signal-to-noise ratio per plane and of the whole picture: of the last
// picture, or of all pictures on the last report.
std::string TCustomFFmpeg::PsnrText(const AVCodecContext& AEncoder, const TVideoQuality& AQuality, int32_t AFrames,
                                    bool AIsLast) {
  const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(AEncoder.pix_fmt);
  const int ChromaShift = Desc ? Desc->log2_chroma_w + Desc->log2_chroma_h : 2;
  std::string Text = "PSNR=";
  double ErrorSum = 0, ScaleSum = 0;
  for (int J = 0; J < 3; ++J) {
    const double Error = static_cast<double>(AIsLast ? AQuality.ErrorSum[J] : AQuality.Error[J]);
    double Scale = static_cast<double>(AEncoder.width) * AEncoder.height * 255.0 * 255.0;
    if (AIsLast) Scale *= AFrames;
    if (J > 0) Scale /= 1 << ChromaShift;
    Text += FormatText("%c:%2.2f ", "YUV"[J], Psnr(Error, Scale));
    ErrorSum += Error;
    ScaleSum += Scale;
  }
  return Text + FormatText("*:%2.2f ", Psnr(ErrorSum, ScaleSum));
}

void TCustomFFmpeg::DoVideoStats(OutputStream& AOst, int32_t AFrameSize) {
  if (!VStatsFile) {
    VStatsFile.reset(av::my_fopen(VStatsFileName.c_str(), "w"));
    if (!VStatsFile) throw FFMpegException("fopen fail: " + VStatsFileName);
  }
  const AVCodecContext* Enc = AOst.Encoder;
  if (Enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
  FILE* File = VStatsFile.get();
  const TVideoQuality& Q = AOst.VideoQuality;
  av::my_fprintf(File, "frame= %5d q= %2.1f ", AOst.FrameNumber,
                 static_cast<double>(static_cast<float>(Q.Quality) / FF_QP2LAMBDA));
  if (Enc->flags & AV_CODEC_FLAG_PSNR)
    av::my_fprintf(File, "PSNR= %6.2f ",
                   Psnr(static_cast<double>(Q.Error[0]), static_cast<double>(Enc->width) * Enc->height * 255.0 * 255.0));
  av::my_fprintf(File, "f_size= %6d ", AFrameSize);
  const double Tb = av_q2d(Enc->time_base);
  const double Ti1 = std::max(AOst.SyncOpts * Tb, 0.01);
  const double BitRate = AFrameSize * 8 / Tb / 1000;
  const double AvgBitRate = VideoSize * 8 / Ti1 / 1000;
  av::my_fprintf(File, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ", VideoSize / 1024.0, Ti1,
                 BitRate, AvgBitRate);
  av::my_fprintf(File, "type= %c\n", av::av_get_picture_type_char(Q.PictType));
}

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
      // The quality of copied video is unknown.
      const int Lambda = Ost->EncodingNeeded ? Ost->VideoQuality.Quality : 0;
      const float Q = Ost->EncodingNeeded ? static_cast<float>(Lambda) / FF_QP2LAMBDA : -1.0f;
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
        if (QpHist) Text += QpHistogramText(Lambda);
        if (Ost->Encoder && (Ost->Encoder->flags & AV_CODEC_FLAG_PSNR))
          Text += PsnrText(*Ost->Encoder, Ost->VideoQuality, FrameNumber, AIsLast);
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
