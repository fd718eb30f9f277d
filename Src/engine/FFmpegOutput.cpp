// Creating an output: its format, its streams with their encoder settings, its
// meta-data and its file.
#include <algorithm>
#include <ctime>

#include <sys/stat.h>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace {

// The fraction nearest to AValue with numerator and denominator up to 255.
AVRational AspectFraction(double AValue) { return av::av_d2q(AValue, 255); }

AVRational SampleAspect(float AFrameAspect, int AWidth, int AHeight) {
  return AWidth * AHeight != 0 ? AspectFraction(static_cast<double>(AFrameAspect) * AHeight / AWidth)
                               : AspectFraction(static_cast<double>(AFrameAspect) * 3 / 4);
}

bool FilterChainResizes(const std::string& AFilters) {
  std::string Rest = LowerCase(AFilters);
  while (!Rest.empty()) {
    std::string Entry = SplitText(Rest, ",");
    const std::string Name = SplitText(Entry, "=", false);
    if (std::string(",crop,rotate,scale,transpose,").find("," + Name + ",") != std::string::npos) return true;
  }
  return false;
}

// The entry of AList (ended by a zero denominator) nearest to ARate; the first of
// equally near ones.
AVRational NearestFrameRate(AVRational ARate, const AVRational* AList) {
  AVRational Best = AList[0];
  __int128 BestNum = -1, BestDen = 1;
  for (const AVRational* P = AList; P->den; ++P) {
    // |a/b - c/d| = |ad - cb| / bd, compared by cross-multiplying.
    __int128 Num = static_cast<__int128>(ARate.num) * P->den - static_cast<__int128>(P->num) * ARate.den;
    if (Num < 0) Num = -Num;
    const __int128 Den = static_cast<__int128>(ARate.den) * P->den;
    if (BestNum < 0 || Num * BestDen < BestNum * Den) {
      Best = *P;
      BestNum = Num;
      BestDen = Den;
    }
  }
  return Best;
}

template <class T>
bool Listed(const T* AList, T AValue, T AEnd) {
  for (const T* P = AList; *P != AEnd; ++P)
    if (*P == AValue) return true;
  return false;
}

// Takes the integer at the front of ARest, which then starts after it; false when
// there is none.
bool TakeInteger(std::string_view& ARest, int32_t& AValue) {
  const std::string_view Number = LeadingInteger(ARest);
  if (Number.empty()) return false;
  if (!ParseInteger(Number, AValue)) Fail("error parsing rc_override");
  ARest.remove_prefix(static_cast<size_t>(Number.data() + Number.size() - ARest.data()));
  return true;
}

// A frame number of an override and the comma after it.
int32_t TakeOverrideFrame(std::string_view& ARest) {
  int32_t Frame = 0;
  if (!TakeInteger(ARest, Frame) || ARest.empty() || ARest[0] != ',') Fail("error parsing rc_override");
  ARest.remove_prefix(1);
  return Frame;
}

// "start,end,q/start,end,q/...": a positive q is a quantiser, a negative one a
// quality factor in percent; a missing q is 0.
std::vector<RcOverride> ParseRcOverride(const std::string& AText) {
  std::vector<RcOverride> Entries;
  std::string_view Rest = AText.c_str();
  for (;;) {
    RcOverride Entry{};
    Entry.start_frame = TakeOverrideFrame(Rest);
    Entry.end_frame = TakeOverrideFrame(Rest);
    int32_t Q = 0;
    TakeInteger(Rest, Q);
    Entry.qscale = Q > 0 ? Q : 0;
    Entry.quality_factor = Q > 0 ? 1.0f : -static_cast<float>(Q) / 100.0f;
    Entries.push_back(Entry);
    const size_t Slash = Rest.find('/');
    if (Slash == std::string_view::npos) break;
    Rest.remove_prefix(Slash + 1);
  }
  return Entries;
}

void SetLanguage(AVStream* AStream, std::string& ALanguage) {
  if (ALanguage.empty()) return;
  av::av_dict_set(&AStream->metadata, "language", ALanguage.substr(0, 3).c_str(), 0);
  ALanguage.clear();
}

std::string CreationTime(int64_t ASeconds) {
  const std::time_t Time = static_cast<std::time_t>(ASeconds);
  std::tm Utc{};
  gmtime_r(&Time, &Utc);
  char Text[32];
  std::strftime(Text, sizeof Text, "%Y-%m-%dT%H:%M:%S.000000Z", &Utc);
  return Text;
}

}  // namespace

// The new stream takes the type's bitstream filter chain, which starts empty again.
AVStream* TCustomFFmpeg::NewOutputStream(int AFileIndex, AVFormatContext* AOutput, AVMediaType AType,
                                         TBitstreamFilterChain& AChain) {
  if (AOutput->nb_streams >= static_cast<unsigned>(MAX_STREAMS))
    Fail(FormatText("Too many streams in one output (at most %d)", MAX_STREAMS));
  AVStream* Stream = av::avformat_new_stream(AOutput, nullptr);
  if (!Stream) Fail("Could not alloc stream");
  Stream->codecpar->codec_type = AType;
  BitstreamFilters[AFileIndex][Stream->index] = std::move(AChain);
  AChain.clear();
  return Stream;
}

// The encoder named by ACodecName (none named: with AGuessCodec the format's choice
// for the file name) and its context in AEntry; a bare context for a stream copy,
// which gives no encoder.
const AVCodec* TCustomFFmpeg::NewStreamEncoder(AVFormatContext* AOutput, AVMediaType AType,
                                               const std::string& ACodecName, bool AStreamCopy, bool AGuessCodec,
                                               TOutputStreamCodec& AEntry) {
  const AVCodec* Codec = nullptr;
  if (!AStreamCopy) {
    int32_t Id = 0;
    if (ACodecName.empty() && AGuessCodec)
      Id = av::av_guess_codec(AOutput->oformat, nullptr, AOutput->url, nullptr, AType);
    else if (!FindCodec(ACodecName, AType, Id, true))
      Fail(LastError);
    Codec = av::avcodec_find_encoder(static_cast<AVCodecID>(Id));
    AEntry.Codec.reset(av::avcodec_alloc_context3(Codec));
    if (AEntry.Codec) AEntry.Codec->codec_id = static_cast<AVCodecID>(Id);
  } else {
    AEntry.Codec.reset(av::avcodec_alloc_context3(nullptr));
  }
  if (!AEntry.Codec) Fail("Could not alloc stream");
  AEntry.Codec->codec_type = AType;
  return Codec;
}

void TCustomFFmpeg::NewVideoStream(int AFileIndex, AVFormatContext* AOutput) {
  // The per-stream options are used up by this stream, whatever happens.
  struct TReset {
    TCustomFFmpeg& E;
    ~TReset() {
      E.VideoDisable = 0;
      E.VideoCodecName.clear();
      E.VideoStreamCopy = 0;
    }
  } Reset{*this};

  AVStream* Stream = NewOutputStream(AFileIndex, AOutput, AVMEDIA_TYPE_VIDEO, VideoBsfChain);
  TOutputStreamCodec Entry;
  const AVCodec* Codec =
      NewStreamEncoder(AOutput, AVMEDIA_TYPE_VIDEO, VideoCodecName, VideoStreamCopy != 0, true, Entry);
  AVCodecContext* Enc = Entry.Codec.get();
  if (ThreadCount > 1) Enc->thread_count = ThreadCount;
  if (VideoCodecTag) Enc->codec_tag = VideoCodecTag;
  if ((VideoGlobalHeader & 1) || (VideoGlobalHeader == 0 && (AOutput->oformat->flags & AVFMT_GLOBALHEADER))) {
    Enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    CodecOpts[AVMEDIA_TYPE_VIDEO]->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (VideoGlobalHeader & 2) {
    Enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    CodecOpts[AVMEDIA_TYPE_VIDEO]->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
  }

  if (VideoStreamCopy) {
    Entry.StreamCopy = true;
    Stream->sample_aspect_ratio = SampleAspect(FrameAspectRatio, FrameWidth, FrameHeight);
  } else {
    const AVRational Fps = FrameRate.num ? FrameRate : AVRational{25, 1};
    ApplyGenericOptions(Enc, CodecOpts[AVMEDIA_TYPE_VIDEO].get(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    Enc->time_base = AVRational{Fps.den, Fps.num};
    if (Codec && Codec->supported_framerates) {
      const AVRational Picked = NearestFrameRate(Fps, Codec->supported_framerates);
      Enc->time_base = AVRational{Picked.den, Picked.num};
    }
    Enc->framerate = AVRational{Enc->time_base.den, Enc->time_base.num};
    Enc->width = FrameWidth + PadLeft + PadRight;
    Enc->height = FrameHeight + PadTop + PadBottom;
    Enc->sample_aspect_ratio = SampleAspect(FrameAspectRatio, Enc->width, Enc->height);
    Stream->sample_aspect_ratio = Enc->sample_aspect_ratio;
    Enc->pix_fmt = static_cast<AVPixelFormat>(FramePixFmt);
    if (Codec && Codec->pix_fmts && !Listed(Codec->pix_fmts, Enc->pix_fmt, AV_PIX_FMT_NONE))
      Enc->pix_fmt = Codec->pix_fmts[0];
    if (IntraOnly) Enc->gop_size = 0;
    if (VideoQScale != 0 || SameQuality) {
      Enc->flags |= AV_CODEC_FLAG_QSCALE;
      Entry.Quality = FF_QP2LAMBDA * VideoQScale;
      Enc->global_quality = static_cast<int>(Entry.Quality);
    }
    // The context frees its matrices itself.
    if (IntraMatrix) {
      Enc->intra_matrix = static_cast<uint16_t*>(av::av_malloc(64 * sizeof(uint16_t)));
      std::copy_n(IntraMatrix.get(), 64, Enc->intra_matrix);
    }
    if (InterMatrix) {
      Enc->inter_matrix = static_cast<uint16_t*>(av::av_malloc(64 * sizeof(uint16_t)));
      std::copy_n(InterMatrix.get(), 64, Enc->inter_matrix);
    }
    Enc->thread_count = ThreadCount;
    if (!VideoRcOverride.empty()) {
      const std::vector<RcOverride> Overrides = ParseRcOverride(VideoRcOverride);
      Enc->rc_override = static_cast<RcOverride*>(av::av_malloc(Overrides.size() * sizeof(RcOverride)));
      std::copy(Overrides.begin(), Overrides.end(), Enc->rc_override);
      Enc->rc_override_count = static_cast<int>(Overrides.size());
    }
    if (Enc->rc_initial_buffer_occupancy == 0) Enc->rc_initial_buffer_occupancy = Enc->rc_buffer_size * 3 / 4;
    Enc->intra_dc_precision = IntraDcPrecision - 8;
    if (DoPsnr) Enc->flags |= AV_CODEC_FLAG_PSNR;
    if (DoPass == 1) Enc->flags |= AV_CODEC_FLAG_PASS1;
    if (DoPass == 2) Enc->flags |= AV_CODEC_FLAG_PASS2;
    Entry.PrivateOptions = CodecPrivateOptions;
  }
  av::avcodec_parameters_from_context(Stream->codecpar, Enc);
  OutputCodecs[AFileIndex].push_back(std::move(Entry));
}

void TCustomFFmpeg::NewAudioStream(int AFileIndex, AVFormatContext* AOutput) {
  struct TReset {
    TCustomFFmpeg& E;
    ~TReset() {
      E.AudioDisable = 0;
      E.AudioCodecName.clear();
      E.AudioStreamCopy = 0;
      E.AudioLanguage.clear();
    }
  } Reset{*this};

  AVStream* Stream = NewOutputStream(AFileIndex, AOutput, AVMEDIA_TYPE_AUDIO, AudioBsfChain);
  TOutputStreamCodec Entry;
  const AVCodec* Codec =
      NewStreamEncoder(AOutput, AVMEDIA_TYPE_AUDIO, AudioCodecName, AudioStreamCopy != 0, true, Entry);
  AVCodecContext* Enc = Entry.Codec.get();
  if (ThreadCount > 1) Enc->thread_count = ThreadCount;
  if (AudioCodecTag) Enc->codec_tag = AudioCodecTag;
  if (AOutput->oformat->flags & AVFMT_GLOBALHEADER) {
    Enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    CodecOpts[AVMEDIA_TYPE_AUDIO]->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  av::av_channel_layout_uninit(&Enc->ch_layout);
  av::av_channel_layout_default(&Enc->ch_layout, AudioChannels);
  if (AudioStreamCopy) {
    Entry.StreamCopy = true;
  } else {
    ApplyGenericOptions(Enc, CodecOpts[AVMEDIA_TYPE_AUDIO].get(), AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    if (AudioQScale > -99999) {
      Enc->flags |= AV_CODEC_FLAG_QSCALE;
      Entry.Quality = FF_QP2LAMBDA * AudioQScale;
      Enc->global_quality = static_cast<int>(Entry.Quality);
    }
    Enc->thread_count = ThreadCount;
    Enc->sample_fmt = static_cast<AVSampleFormat>(AudioSampleFmt);
    if (Codec && Codec->sample_fmts && !Listed(Codec->sample_fmts, Enc->sample_fmt, AV_SAMPLE_FMT_NONE))
      Enc->sample_fmt = Codec->sample_fmts[0];
    Entry.PrivateOptions = CodecPrivateOptions;
  }
  Enc->sample_rate = AudioSampleRate;
  Enc->time_base = AVRational{1, AudioSampleRate};
  SetLanguage(Stream, AudioLanguage);
  av::avcodec_parameters_from_context(Stream->codecpar, Enc);
  OutputCodecs[AFileIndex].push_back(std::move(Entry));
}

void TCustomFFmpeg::NewSubtitleStream(int AFileIndex, AVFormatContext* AOutput) {
  struct TReset {
    TCustomFFmpeg& E;
    ~TReset() {
      E.SubtitleDisable = 0;
      E.SubtitleCodecName.clear();
      E.SubtitleStreamCopy = 0;
      E.SubtitleLanguage.clear();
    }
  } Reset{*this};

  AVStream* Stream = NewOutputStream(AFileIndex, AOutput, AVMEDIA_TYPE_SUBTITLE, SubtitleBsfChain);
  TOutputStreamCodec Entry;
  // A subtitle stream gets a named encoder only, never the format's choice.
  NewStreamEncoder(AOutput, AVMEDIA_TYPE_SUBTITLE, SubtitleCodecName, SubtitleStreamCopy != 0, false, Entry);
  AVCodecContext* Enc = Entry.Codec.get();
  if (SubtitleStreamCopy) {
    Entry.StreamCopy = true;
  } else {
    ApplyGenericOptions(Enc, CodecOpts[AVMEDIA_TYPE_SUBTITLE].get(),
                        AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    Entry.PrivateOptions = CodecPrivateOptions;
  }
  SetLanguage(Stream, SubtitleLanguage);
  av::avcodec_parameters_from_context(Stream->codecpar, Enc);
  OutputCodecs[AFileIndex].push_back(std::move(Entry));
}

int32_t TCustomFFmpeg::ReadFfmStreams(AVFormatContext*, const std::string&) {
  // Feeds of a streaming server need a format this library generation no longer has.
  return AVERROR(ENOSYS);
}

void TCustomFFmpeg::AddStreamToLastOutput(AVMediaType AType) {
  if (OutputFileCount <= 0) Fail("At least one output file must be specified");
  // A stream added later belongs to its own output's row of filter chains.
  const int Index = OutputFileCount - 1;
  AVFormatContext* Output = OutputFiles[Index].get();
  if (AType == AVMEDIA_TYPE_VIDEO)
    NewVideoStream(Index, Output);
  else if (AType == AVMEDIA_TYPE_AUDIO)
    NewAudioStream(Index, Output);
  else
    NewSubtitleStream(Index, Output);
}

// An output that failed after it was listed leaves the list before it is released.
void TCustomFFmpeg::ReleaseUnlistedOutput(int AFileIndex) {
  OutputCodecs[AFileIndex].clear();
  OutputMuxing[AFileIndex] = TOutputMuxing();
  for (TBitstreamFilterChain& Chain : BitstreamFilters[AFileIndex]) Chain.clear();
}

namespace {
bool SameFile(const std::string& A, const std::string& B) {
  struct stat SA, SB;
  return stat(A.c_str(), &SA) == 0 && stat(B.c_str(), &SB) == 0 && SA.st_dev == SB.st_dev && SA.st_ino == SB.st_ino;
}
}  // namespace

bool TCustomFFmpeg::FailOutput(const std::string& AMessage) {
  LastError = AMessage;
  OutputFormat = nullptr;
  InputFormat = nullptr;
  return false;
}

bool TCustomFFmpeg::AddOutputFile(const std::string& AFileName) {
  // The stream options ("vn", "acodec", "copy", ...) belong to this output only, also
  // for a stream type it does not get.
  struct TResetAtEnd {
    TCustomFFmpeg& E;
    ~TResetAtEnd() {
      E.VideoDisable = E.AudioDisable = E.SubtitleDisable = 0;
      E.VideoStreamCopy = E.AudioStreamCopy = E.SubtitleStreamCopy = 0;
      E.VideoCodecName.clear();
      E.AudioCodecName.clear();
      E.SubtitleCodecName.clear();
    }
  } Reset{*this};
  if (!CheckNewOutput(AFileName)) return false;
  FiltersActive = !VideoFilters.empty();
  TFormatContextPtr Output;
  if (!CreateOutputContext(AFileName, Output)) return false;
  const int Index = OutputFileCount;
  ReleaseUnlistedOutput(Index);

  if (std::string(OutputFormat->name) == "ffm" && AFileName.rfind("http:", 0) == 0) {
    const int32_t Err = ReadFfmStreams(Output.get(), AFileName);
    if (Err < 0) return FailOutput(FormatOpenError(AFileName, Err));
  } else {
    if (!AddWantedStreams(Index, Output.get())) return false;
    SetOutputMetaData(Output.get());
  }

  AVFormatContext* Listed = Output.get();
  StoreOutputFile(std::move(Output));
  if (!OpenOutputFile(AFileName, Listed)) return false;
  SetOutputMuxing(Index, Listed);
  OutputFormat = nullptr;
  InputFormat = nullptr;
  return true;
}

// The options and the file name allow another output.
bool TCustomFFmpeg::CheckNewOutput(const std::string& AFileName) {
  if (!VideoFilters.empty() && (CropTop || CropBottom || CropLeft || CropRight))
    return FailOutput("Cannot enable crop options and filters at the same time.");
  if (FilterChainResizes(VideoFilters) && (PadTop || PadBottom || PadLeft || PadRight))
    return FailOutput(
        "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
        "transpose, etc.)");
  if (OutputFileCount >= MAX_FILES) return FailOutput(FormatText("Too many output files (at most %d)", MAX_FILES));
  // Writing over a file that is being read would destroy the input.
  for (int I = 0; I < InputFileCount; ++I)
    if (InputFiles[I]->url && SameFile(AFileName, InputFiles[I]->url))
      return FailOutput(FormatText("Output file '%s' is input file #%d", AFileName.c_str(), I));
  return true;
}

// The muxer context in the chosen format, or the one the file name suggests.
bool TCustomFFmpeg::CreateOutputContext(const std::string& AFileName, TFormatContextPtr& AOutput) {
  if (!OutputFormat) OutputFormat = av::av_guess_format(nullptr, AFileName.c_str(), nullptr);
  if (!OutputFormat) return FailOutput("Unable to find a suitable output format for '" + AFileName + "'");
  AVFormatContext* Raw = nullptr;
  if (av::avformat_alloc_output_context2(&Raw, OutputFormat, nullptr, AFileName.c_str()) < 0 || !Raw)
    return FailOutput(FormatOpenError(AFileName, AVERROR(ENOMEM)));
  AOutput.reset(Raw);
  return true;
}

// A stream type the output gets: its format or the options ask for one, the inputs
// have one (when there are inputs yet), and it is not disabled.
bool TCustomFFmpeg::WantedStreamTypes(bool& AVideo, bool& AAudio, bool& ASubtitle) {
  AVideo = VideoStreamCopy || OutputFormat->video_codec != AV_CODEC_ID_NONE || !VideoCodecName.empty();
  AAudio = AudioStreamCopy || OutputFormat->audio_codec != AV_CODEC_ID_NONE || !AudioCodecName.empty();
  ASubtitle = SubtitleStreamCopy || OutputFormat->subtitle_codec != AV_CODEC_ID_NONE || !SubtitleCodecName.empty();
  if (InputFileCount > 0) {
    bool HasVideo, HasAudio, HasSubtitle;
    try {
      CheckInputStreamTypes(HasVideo, HasAudio, HasSubtitle);
    } catch (const std::exception& E) {
      return FailOutput(std::string("check_audio_video_sub_inputs fail: ") + E.what());
    }
    AVideo = AVideo && HasVideo;
    AAudio = AAudio && HasAudio;
    ASubtitle = ASubtitle && HasSubtitle;
  }
  AVideo = AVideo && !VideoDisable;
  AAudio = AAudio && !AudioDisable;
  ASubtitle = ASubtitle && !SubtitleDisable;
  return true;
}

bool TCustomFFmpeg::AddWantedStreams(int AFileIndex, AVFormatContext* AOutput) {
  bool WantVideo, WantAudio, WantSubtitle;
  if (!WantedStreamTypes(WantVideo, WantAudio, WantSubtitle)) return false;
  const struct {
    bool Wanted;
    void (TCustomFFmpeg::*Add)(int, AVFormatContext*);
    const char* What;
  } Streams[] = {{WantVideo, &TCustomFFmpeg::NewVideoStream, "new_video_stream fail: "},
                 {WantAudio, &TCustomFFmpeg::NewAudioStream, "new_audio_stream fail: "},
                 {WantSubtitle, &TCustomFFmpeg::NewSubtitleStream, "new_subtitle_stream fail: "}};
  for (const auto& S : Streams) {
    if (!S.Wanted) continue;
    try {
      (this->*S.Add)(AFileIndex, AOutput);
    } catch (const std::exception& E) {
      ReleaseUnlistedOutput(AFileIndex);
      return FailOutput(S.What + std::string(E.what()));
    }
  }
  return true;
}

void TCustomFFmpeg::SetOutputMetaData(AVFormatContext* AOutput) {
  auto SetMeta = [&](const char* AKey, const std::string& AValue, size_t ALimit) {
    if (!AValue.empty()) av::av_dict_set(&AOutput->metadata, AKey, AValue.substr(0, ALimit).c_str(), 0);
  };
  if (RecTimestamp) SetMeta("creation_time", CreationTime(RecTimestamp), 64);
  SetMeta("title", Title, 511);
  SetMeta("artist", Author, 511);
  SetMeta("copyright", Copyright, 511);
  SetMeta("comment", Comment, 511);
  SetMeta("album", Album, 511);
  if (Year > 0) SetMeta("date", std::to_string(Year), 511);
  if (Track > 0) SetMeta("track", std::to_string(Track), 511);
  SetMeta("genre", Genre, 31);
}

// The listed output's file, when its format writes one; a failure takes the output off
// the list again.
bool TCustomFFmpeg::OpenOutputFile(const std::string& AFileName, AVFormatContext* AListed) {
  if ((AListed->oformat->flags & AVFMT_NEEDNUMBER) && av::av_filename_number_test(AListed->url) == 0)
    return UnlistLastOutput(FormatOpenError(AListed->url, -33));
  if (!(AListed->oformat->flags & AVFMT_NOFILE) &&
      av::avio_open(&AListed->pb, AFileName.c_str(), AVIO_FLAG_WRITE) < 0)
    return UnlistLastOutput("Could not open '" + AFileName + "'");
  return true;
}

bool TCustomFFmpeg::UnlistLastOutput(const std::string& AMessage) {
  --OutputFileCount;
  TFormatContextPtr Failed = std::move(OutputFiles[OutputFileCount]);
  ReleaseUnlistedOutput(OutputFileCount);
  return FailOutput(AMessage);
}

void TCustomFFmpeg::SetOutputMuxing(int AFileIndex, AVFormatContext* AOutput) {
  OutputMuxing[AFileIndex].PreloadUs = static_cast<int64_t>(MuxPreload * 1000000);
  AOutput->max_delay = static_cast<int>(MuxMaxDelay * 1000000);
  OutputMuxing[AFileIndex].Loop = LoopOutput;
  OutputMuxing[AFileIndex].PrivateOptions = FormatPrivateOptions;
  ApplyGenericOptions(AOutput, FormatOpts.get(), AV_OPT_FLAG_ENCODING_PARAM);
}
