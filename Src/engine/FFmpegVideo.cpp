// The video output path: how many output frames a decoded picture becomes, crop,
// scale and pad to the encoder's geometry, deinterlacing, encoding and the encoder's
// packets; and the subtitle output path.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "FFmpegRun.h"
#include "MyUtils.h"

namespace {

constexpr AVRational Milliseconds{1, 1000};

int CeilShift(int AValue, int AShift) { return -((-AValue) >> AShift); }

bool HasChroma(const AVPixFmtDescriptor* ADesc) {
  return !(ADesc->flags & AV_PIX_FMT_FLAG_RGB) && ADesc->nb_components >= 3;
}

// Every component in a plane of its own, one sample per step, nothing packed with it:
// the layouts whose borders can be filled and whose planes can be filtered row by row.
bool PlanarLayout(const AVPixFmtDescriptor* ADesc, int AMaxDepth) {
  if (!ADesc || (ADesc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL |
                                 AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_FLOAT)))
    return false;
  for (int C = 0; C < ADesc->nb_components; ++C) {
    const AVComponentDescriptor& Comp = ADesc->comp[C];
    if (Comp.plane != C || Comp.shift != 0 || Comp.offset != 0 || Comp.depth > AMaxDepth ||
        Comp.step != (Comp.depth + 7) / 8)
      return false;
  }
  return ADesc->nb_components > 0;
}

// A window of AView: rows from ATop, columns from ALeft, AWidth x AHeight pixels. False
// when it lies outside, or does not start on a whole chroma sample, or the format has
// no addressable pixels.
bool MakeWindow(const TPictureView& AView, int ATop, int ALeft, int AWidth, int AHeight, TPictureView& AWindow) {
  const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(AView.Format);
  if (!Desc || (Desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM))) return false;
  if (ATop < 0 || ALeft < 0 || AWidth <= 0 || AHeight <= 0 || ATop + AHeight > AView.Height ||
      ALeft + AWidth > AView.Width)
    return false;
  if ((ATop & ((1 << Desc->log2_chroma_h) - 1)) || (ALeft & ((1 << Desc->log2_chroma_w) - 1))) return false;
  AWindow = AView;
  for (int P = 0; P < 4; ++P) {
    if (!AView.Data[P] || ((Desc->flags & AV_PIX_FMT_FLAG_PAL) && P == 1)) continue;  // a palette stays whole
    int C = 0;
    while (C < Desc->nb_components && Desc->comp[C].plane != P) ++C;
    if (C == Desc->nb_components) continue;
    const bool Chroma = HasChroma(Desc) && (C == 1 || C == 2);
    const int Row = Chroma ? ATop >> Desc->log2_chroma_h : ATop;
    const int Column = Chroma ? ALeft >> Desc->log2_chroma_w : ALeft;
    AWindow.Data[P] = AView.Data[P] + static_cast<ptrdiff_t>(Row) * AView.Lines[P] +
                      static_cast<ptrdiff_t>(Column) * Desc->comp[C].step;
  }
  AWindow.Width = AWidth;
  AWindow.Height = AHeight;
  return true;
}

bool CanFillBorder(AVPixelFormat AFormat) {
  const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(AFormat);
  return PlanarLayout(Desc, 16) && (Desc->nb_components == 1 || Desc->nb_components == 2 || HasChroma(Desc));
}

// The border around the inner area of APicture, in APadColor (Y, U, V), alpha opaque.
void FillBorder(const TPictureView& APicture, int ATop, int ABottom, int ALeft, int ARight,
                const std::array<int32_t, 3>& APadColor) {
  const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(APicture.Format);
  for (int C = 0; C < Desc->nb_components; ++C) {
    const bool Chroma = HasChroma(Desc) && (C == 1 || C == 2);
    const bool Alpha = (Desc->flags & AV_PIX_FMT_FLAG_ALPHA) && C == Desc->nb_components - 1;
    const int Depth = Desc->comp[C].depth;
    const int Value8 = Alpha ? 255 : std::clamp<int>(APadColor[Chroma ? C : 0], 0, 255);
    const int Max = (1 << Depth) - 1;
    const int Value = Alpha ? Max : (Depth >= 8 ? Value8 << (Depth - 8) : Value8 >> (8 - Depth));
    const int SW = Chroma ? Desc->log2_chroma_w : 0, SH = Chroma ? Desc->log2_chroma_h : 0;
    const int Width = CeilShift(APicture.Width, SW), Height = CeilShift(APicture.Height, SH);
    const int InnerLeft = ALeft >> SW, InnerRight = CeilShift(APicture.Width - ARight, SW);
    const int InnerTop = ATop >> SH, InnerBottom = CeilShift(APicture.Height - ABottom, SH);
    auto Fill = [&](int ARow, int AFrom, int ATo) {
      if (AFrom >= ATo) return;
      uint8_t* Row = APicture.Data[C] + static_cast<ptrdiff_t>(ARow) * APicture.Lines[C];
      if (Desc->comp[C].step == 1) {
        std::memset(Row + AFrom, Value, static_cast<size_t>(ATo - AFrom));
      } else {
        const uint16_t V = static_cast<uint16_t>(Value);
        for (int X = AFrom; X < ATo; ++X) std::memcpy(Row + 2 * X, &V, 2);
      }
    };
    for (int Y = 0; Y < Height; ++Y) {
      if (Y < InnerTop || Y >= InnerBottom) {
        Fill(Y, 0, Width);
      } else {
        Fill(Y, 0, InnerLeft);
        Fill(Y, InnerRight, Width);
      }
    }
  }
}

// The statistics an encoder attaches to its packets: quality, picture type, and the
// squared error per plane when it computes them.
void ReadQualityStats(const AVPacket* APacket, TVideoQuality& AQuality) {
  size_t Size = 0;
  const uint8_t* Data = av::av_packet_get_side_data(APacket, AV_PKT_DATA_QUALITY_STATS, &Size);
  if (!Data || Size < 6) return;
  AQuality.Known = true;
  AQuality.Quality = static_cast<int>(static_cast<uint32_t>(Data[0]) | static_cast<uint32_t>(Data[1]) << 8 |
                                      static_cast<uint32_t>(Data[2]) << 16 | static_cast<uint32_t>(Data[3]) << 24);
  AQuality.PictType = static_cast<AVPictureType>(Data[4]);
  const size_t Count = std::min<size_t>({Data[5], 4, Size >= 8 ? (Size - 8) / 8 : 0});
  for (size_t I = 0; I < 4; ++I) {
    uint64_t Error = 0;
    if (I < Count)
      for (int B = 7; B >= 0; --B) Error = Error << 8 | Data[8 + 8 * I + B];
    AQuality.Error[I] = Error;
    AQuality.ErrorSum[I] += Error;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Deinterlacing

int DeinterlacePicture(const TPictureView& ATarget, const TPictureView& ASource) {
  const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(ASource.Format);
  if (!PlanarLayout(Desc, 8) || (Desc->nb_components >= 3 && !HasChroma(Desc)) || ATarget.Format != ASource.Format ||
      ATarget.Width != ASource.Width || ATarget.Height != ASource.Height || ASource.Width <= 0 || ASource.Height <= 0)
    return -1;
  for (int P = 0; P < Desc->nb_components; ++P) {
    const bool Chroma = HasChroma(Desc) && (P == 1 || P == 2);
    const int Width = CeilShift(ASource.Width, Chroma ? Desc->log2_chroma_w : 0);
    const int Height = CeilShift(ASource.Height, Chroma ? Desc->log2_chroma_h : 0);
    auto Row = [&](int AY) {
      return ASource.Data[P] + static_cast<ptrdiff_t>(std::clamp(AY, 0, Height - 1)) * ASource.Lines[P];
    };
    for (int Y = 0; Y < Height; ++Y) {
      uint8_t* Out = ATarget.Data[P] + static_cast<ptrdiff_t>(Y) * ATarget.Lines[P];
      if (Y % 2 == 0) {  // the first field stays
        std::memcpy(Out, Row(Y), static_cast<size_t>(Width));
        continue;
      }
      const uint8_t *M2 = Row(Y - 2), *M1 = Row(Y - 1), *C0 = Row(Y), *P1 = Row(Y + 1), *P2 = Row(Y + 2);
      for (int X = 0; X < Width; ++X) {
        const int V = -M2[X] + 4 * M1[X] + 2 * C0[X] + 4 * P1[X] - P2[X];
        Out[X] = static_cast<uint8_t>(std::clamp((V + 4) >> 3, 0, 255));
      }
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Video output

void TCustomFFmpeg::DoVideoOut(AVFormatContext* AOutput, OutputStream& AOst, InputStream& AIst, AVFrame* APicture) {
  if (AOst.FilterGraph && APicture != AOst.FilteredPicture.get())
    return PassThroughFilters(AOutput, AOst, AIst, APicture);
  const int NbFrames = std::min(SyncedFrameCount(AOst), MaxFrames[AVMEDIA_TYPE_VIDEO] - AOst.FrameNumber);
  if (NbFrames <= 0) return;
  TPictureView Formatted = ViewOfFrame(APicture);
  if (!CropPicture(AOst, APicture, Formatted)) return;
  AVFrame* Work = AOst.EncoderFrame.get();
  if (!FitPicture(AOst, APicture, Formatted, Work)) return;
  SetEncoderPictureProps(AOst, AIst, APicture, Work);
  EncodePicture(AOst, Work, NbFrames);
}

// With a filter graph the picture (none: the end of input) goes in first, and each
// picture the graph gives comes out through DoVideoOut, at its own time.
void TCustomFFmpeg::PassThroughFilters(AVFormatContext* AOutput, OutputStream& AOst, InputStream& AIst,
                                       AVFrame* APicture) {
  if (!APicture)
    CloseFilters(AOst);
  else if (!FeedFilters(AOst, AIst, APicture))
    Fail("Error while feeding the filter graph");
  const int64_t InputPts = AIst.Pts;
  while (GetFilteredVideoPic(AOst.OutputVideoFilter, AOst.FilteredPicture.get(), AIst.Pts) > 0)
    DoVideoOut(AOutput, AOst, AIst, AOst.FilteredPicture.get());
  av::av_frame_unref(AOst.FilteredPicture.get());
  AIst.Pts = InputPts;
}

// How many output frames the picture becomes: none when the output is ahead of the
// input clock, copies when it is behind; counted as drops and dups.
int TCustomFFmpeg::SyncedFrameCount(OutputStream& AOst) {
  const double Tb = av_q2d(AOst.Encoder->time_base);
  const double Ipts = static_cast<double>(AOst.SyncIst->Pts - StartTime) / 1000000.0;
  const bool Synchronise = VideoSyncMethod > 0 || (VideoSyncMethod < 0 && Tb > 0.001);
  if (!Synchronise) {
    AOst.SyncOpts = std::llround(Ipts / Tb);
    return 1;
  }
  int NbFrames = 1;
  const double VDelta = Ipts / Tb - static_cast<double>(AOst.SyncOpts);
  if (VDelta < -1.1)
    NbFrames = 0;
  else if (VideoSyncMethod == 2)
    AOst.SyncOpts = std::llround(Ipts / Tb);
  else if (VDelta > 1.1)
    NbFrames = static_cast<int>(std::min<double>(std::llround(VDelta), INT_MAX));
  if (NbFrames == 0) {
    ++FramesDrop;
    if (Verbose > 2) Log(1, "*** drop!");
  } else if (NbFrames > 1) {
    FramesDup += NbFrames - 1;  // the copies beyond the picture itself
    if (Verbose > 2) Log(1, FormatText("*** %d dup!", NbFrames - 1));
  }
  return NbFrames;
}

void TCustomFFmpeg::SkipOutput(const char* AMessage) {
  if (ExitOnError) Fail(AMessage);
  Log(0, AMessage);
}

// The input window; AFormatted is the whole picture when there is no crop.
bool TCustomFFmpeg::CropPicture(const OutputStream& AOst, const AVFrame* APicture, TPictureView& AFormatted) {
  if (FiltersActive || !AOst.VideoCrop) return true;
  if (MakeWindow(ViewOfFrame(APicture), AOst.TopBand, AOst.LeftBand, APicture->width - AOst.LeftBand - AOst.RightBand,
                 APicture->height - AOst.TopBand - AOst.BottomBand, AFormatted))
    return true;
  SkipOutput("error cropping picture");
  return false;
}

// The encoder's picture in AWork: the input as it is, or the temporary picture that the
// scaler or the copy fills inside its padding. A picture whose size or format is not
// what the set-up saw is scaled all the same.
bool TCustomFFmpeg::FitPicture(OutputStream& AOst, const AVFrame* APicture, const TPictureView& AFormatted,
                               AVFrame* AWork) {
  const AVCodecContext* Enc = AOst.Encoder;
  const bool Scale = !FiltersActive && (AOst.VideoResample || AFormatted.Width != InnerWidth(AOst) ||
                                        AFormatted.Height != InnerHeight(AOst) || AFormatted.Format != Enc->pix_fmt);
  av::av_frame_unref(AWork);
  if (!Scale && !AOst.VideoPad) {
    if (av::av_frame_ref(AWork, APicture) < 0) Fail("av_malloc fail");
    for (int P = 0; P < 4; ++P) AWork->data[P] = AFormatted.Data[P];
    AWork->width = AFormatted.Width;
    AWork->height = AFormatted.Height;
    return true;
  }
  if (AOst.VideoPad && !CanFillBorder(Enc->pix_fmt)) {
    SkipOutput("error padding picture");
    return false;
  }
  MakeTempPictureWritable(AOst);
  if (!DrawTempPicture(AOst, AFormatted, Scale)) return false;
  if (av::av_frame_ref(AWork, AOst.PictTmp.get()) < 0) Fail("av_malloc fail");
  av::av_frame_copy_props(AWork, APicture);
  return true;
}

int TCustomFFmpeg::InnerWidth(const OutputStream& AOst) { return AOst.Encoder->width - AOst.PadLeft - AOst.PadRight; }

int TCustomFFmpeg::InnerHeight(const OutputStream& AOst) {
  return AOst.Encoder->height - AOst.PadTop - AOst.PadBottom;
}

// A buffer the encoder may still read is never written again: take a new one.
void TCustomFFmpeg::MakeTempPictureWritable(OutputStream& AOst) {
  if (AOst.PictTmp && av::av_frame_is_writable(AOst.PictTmp.get())) return;
  const AVCodecContext* Enc = AOst.Encoder;
  TFramePtr Fresh(av::av_frame_alloc());
  if (!Fresh) Fail("Cannot allocate temp picture, check pix fmt");
  Fresh->format = Enc->pix_fmt;
  Fresh->width = Enc->width;
  Fresh->height = Enc->height;
  if (av::av_frame_get_buffer(Fresh.get(), 0) < 0) Fail("Cannot allocate temp picture, check pix fmt");
  AOst.PictTmp = std::move(Fresh);
}

// The picture scaled or copied into the inner area of the temporary picture, and
// the border around it.
bool TCustomFFmpeg::DrawTempPicture(OutputStream& AOst, const TPictureView& AFormatted, bool AScale) {
  const AVCodecContext* Enc = AOst.Encoder;
  const int Width = InnerWidth(AOst), Height = InnerHeight(AOst);
  const TPictureView Target = ViewOfFrame(AOst.PictTmp.get());
  TPictureView Inner = Target;
  if (AOst.VideoPad && !MakeWindow(Target, AOst.PadTop, AOst.PadLeft, Width, Height, Inner)) {
    SkipOutput("error padding picture");
    return false;
  }
  if (AScale) {
    AOst.ImgResampleCtx.reset(av::sws_getCachedContext(AOst.ImgResampleCtx.release(), AFormatted.Width,
                                                       AFormatted.Height, AFormatted.Format, Width, Height,
                                                       Enc->pix_fmt, SwsFlags, nullptr, nullptr, nullptr));
    if (!AOst.ImgResampleCtx) Fail("Cannot get resampling context");
    av::sws_scale(AOst.ImgResampleCtx.get(), AFormatted.Data, AFormatted.Lines, 0, AFormatted.Height, Inner.Data,
                  Inner.Lines);
  } else {
    // Only a filter graph could hand over a picture that does not fit its place.
    if (AFormatted.Width != Width || AFormatted.Height != Height || AFormatted.Format != Enc->pix_fmt) {
      SkipOutput("error padding picture");
      return false;
    }
    av::av_image_copy(Inner.Data, Inner.Lines, const_cast<const uint8_t**>(AFormatted.Data), AFormatted.Lines,
                      Enc->pix_fmt, Width, Height);
  }
  if (AOst.VideoPad) FillBorder(Target, AOst.PadTop, AOst.PadBottom, AOst.PadLeft, AOst.PadRight, PadColor);
  return true;
}

void TCustomFFmpeg::SetEncoderPictureProps(const OutputStream& AOst, const InputStream& AIst,
                                           const AVFrame* APicture, AVFrame* AWork) {
  AWork->interlaced_frame = APicture->interlaced_frame;
  const AVCodecContext* VideoOpts = CodecOpts[AVMEDIA_TYPE_VIDEO].get();
  if (VideoOpts && (VideoOpts->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)))
    AWork->top_field_first = TopFieldFirst == -1 ? APicture->top_field_first : TopFieldFirst;
  AWork->quality = static_cast<int>(std::lround(SameQuality ? AIst.Quality : AOst.Setup->Quality));
  // The decoder's picture types would force the encoder's.
  if (MeThreshold == 0) AWork->pict_type = AV_PICTURE_TYPE_NONE;
  AWork->key_frame = 0;
}

void TCustomFFmpeg::EncodePicture(OutputStream& AOst, AVFrame* AWork, int ANbFrames) {
  for (int I = 0; I < ANbFrames && !StopRequested; ++I) {
    AWork->pts = AOst.SyncOpts;
    ++AOst.SyncOpts;
    ++AOst.FrameNumber;
    if (av::avcodec_send_frame(AOst.Encoder, AWork) < 0) Fail("Video encoding failed");
    DrainVideoEncoder(AOst, false);
  }
  av::av_frame_unref(AWork);
}

void TCustomFFmpeg::DrainVideoEncoder(OutputStream& AOst, bool AEndOfInput) {
  AVCodecContext* Enc = AOst.Encoder;
  // What a filter graph still holds is encoded before the encoder is flushed.
  if (AEndOfInput && AOst.FilterGraph)
    DoVideoOut(OutputFiles[AOst.FileIndex].get(), AOst, *RunTables->InputStreams[AOst.SourceIndex], nullptr);
  if (AEndOfInput && av::avcodec_send_frame(Enc, nullptr) < 0) return;  // already flushed
  AVPacket* Packet = AOst.EncodedPacket.get();
  for (;;) {
    const int Ret = av::avcodec_receive_packet(Enc, Packet);
    if (Ret == AVERROR(EAGAIN) || Ret == AVERROR_EOF) return;
    if (Ret < 0) Fail("Video encoding failed");
    WriteVideoPacket(AOst, Packet);
    av::av_packet_unref(Packet);
  }
}

void TCustomFFmpeg::WriteVideoPacket(OutputStream& AOst, AVPacket* APacket) {
  AVCodecContext* Enc = AOst.Encoder;
  ReadQualityStats(APacket, AOst.VideoQuality);
  APacket->stream_index = AOst.Index;
  av::av_packet_rescale_ts(APacket, Enc->time_base, AOst.St->time_base);
  const int32_t Size = APacket->size;
  WriteFrame(OutputFiles[AOst.FileIndex].get(), APacket, Enc, AOst);
  VideoSize += Size;
  if (AOst.LogFile && Enc->stats_out) av::my_fprintf(AOst.LogFile.get(), "%s", Enc->stats_out);
  if (!VStatsFileName.empty() && Size != 0) DoVideoStats(AOst, Size);
}

// ---------------------------------------------------------------------------
// Subtitle output

void TCustomFFmpeg::DoSubtitleOut(AVFormatContext* AOutput, OutputStream& AOst, InputStream& AIst,
                                  AVSubtitle* ASubtitle, int64_t APts) {
  if (APts == NoPtsValue) return SkipOutput("Subtitle packets must have a pts");
  constexpr int SubtitleOutSize = 65536;
  TAVMemPtr<uint8_t>& SubtitleOut = RunTables->SubtitleOut;
  if (!SubtitleOut) {
    SubtitleOut.reset(static_cast<uint8_t*>(av::av_malloc(SubtitleOutSize)));
    if (!SubtitleOut) Fail("av_malloc fail");
  }
  AVCodecContext* Enc = AOst.Encoder;
  const AVRational OutTb = AOst.St->time_base;
  // DVB subtitles are shown by one packet and taken away by a second, empty one.
  const bool Dvb = Enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  // The encoders take display times from the packet's time on: a delayed start moves
  // the packet instead.
  AVSubtitle Timed = *ASubtitle;
  const uint32_t Delay = Timed.start_display_time;
  if (Timed.end_display_time != UINT32_MAX) Timed.end_display_time -= std::min(Delay, Timed.end_display_time);
  Timed.start_display_time = 0;
  const int64_t Pts = av::av_rescale_q(APts, AIst.St->time_base, OutTb) + av::av_rescale_q(Delay, Milliseconds, OutTb);
  // One shown until further notice is never taken away.
  const int Packets = Dvb && Timed.end_display_time != UINT32_MAX ? 2 : 1;
  for (int I = 0; I < Packets; ++I) {
    AVSubtitle Shown = Timed;
    if (I == 1) Shown.num_rects = 0;
    const int Ret = av::avcodec_encode_subtitle(Enc, SubtitleOut.get(), SubtitleOutSize, &Shown);
    if (Ret < 0) return SkipOutput("Subtitle encoding failed");
    if (Ret == 0) continue;
    AVPacket* Packet = AOst.EncodedPacket.get();
    av::av_packet_unref(Packet);
    Packet->data = SubtitleOut.get();
    Packet->size = Ret;
    Packet->stream_index = AOst.Index;
    Packet->pts = Pts;
    if (Dvb) {
      if (I == 1) Packet->pts += av::av_rescale_q(Timed.end_display_time, Milliseconds, OutTb);
    } else if (Timed.end_display_time > 0 && Timed.end_display_time != UINT32_MAX) {
      // How long it is shown: without it a muxer keeps it until the next one.
      Packet->duration = av::av_rescale_q(Timed.end_display_time, Milliseconds, OutTb);
    }
    Packet->dts = Packet->pts;
    WriteFrame(AOutput, Packet, Enc, AOst);
    av::av_packet_unref(Packet);
  }
}
