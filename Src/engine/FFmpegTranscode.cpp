// One whole conversion: the run tables and stream mapping, opening the codecs and
// writing the headers, the main loop, and the orderly finish.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "FFmpegRun.h"
#include "MyUtils.h"

namespace {

AVMediaType TypeOf(const AVStream* AStream) { return AStream->codecpar->codec_type; }

constexpr AVRational MicroSeconds{1, 1000000};

}  // namespace

void TCustomFFmpeg::Transcode() {
  RunTables = std::make_unique<TRunTables>();
  try {
    SetUpRun();
    OpenCodecsAndHeaders();
    RunMainLoop();
    FinishRun();
  } catch (...) {
    ReleaseRunTables();
    throw;
  }
  ReleaseRunTables();
}

void TCustomFFmpeg::ReleaseRunTables() { RunTables.reset(); }

// ---------------------------------------------------------------------------
// Set-up: tables, stream mapping, stream parameters

void TCustomFFmpeg::SetUpRun() {
  AllocateRunPackets();
  BuildInputStreamTable();
  CheckStreamMaps(CountOutputStreams());
  MapOutputStreams();
  TRunTables& R = *RunTables;
  for (size_t I = 0; I < R.OutputStreams.size(); ++I) SetUpOutputStream(*R.OutputStreams[I], static_cast<int>(I));
  for (int F = 0; F < OutputFileCount; ++F) av::av_dump_format(OutputFiles[F].get(), F, OutputFiles[F]->url, 1);
  LogStreamMapping();
}

void TCustomFFmpeg::AllocateRunPackets() {
  TRunTables& R = *RunTables;
  R.Packet.reset(av::av_packet_alloc());
  R.CopyPacket.reset(av::av_packet_alloc());
  if (!R.Packet || !R.CopyPacket) Fail("av_mallocz fail");
}

// One record per stream of every input, file by file.
void TCustomFFmpeg::BuildInputStreamTable() {
  TRunTables& R = *RunTables;
  for (int F = 0; F < InputFileCount; ++F) {
    InputFileState State;
    State.IstIndex = static_cast<int32_t>(R.InputStreams.size());
    State.NbStreams = static_cast<int32_t>(InputFiles[F]->nb_streams);
    R.Files.push_back(State);
    for (int S = 0; S < State.NbStreams; ++S) {
      auto Ist = std::make_unique<InputStream>();
      Ist->FileIndex = F;
      Ist->Index = S;
      Ist->St = InputFiles[F]->streams[S];
      Ist->Decoder = S < static_cast<int>(InputCodecs[F].size()) ? InputCodecs[F][S].get() : nullptr;
      Ist->RateEmu = InputRateEmu[F] != 0;
      if (Ist->RateEmu) Ist->Start = av::av_gettime();
      R.InputStreams.push_back(std::move(Ist));
    }
  }
}

int TCustomFFmpeg::CountOutputStreams() {
  int Count = 0;
  for (int F = 0; F < OutputFileCount; ++F) {
    if (OutputFiles[F]->nb_streams == 0) Fail("Output file does not contain any stream");
    Count += static_cast<int>(OutputFiles[F]->nb_streams);
  }
  return Count;
}

// Stream maps, when given, name one existing input stream and sync stream for every
// output stream.
void TCustomFFmpeg::CheckStreamMaps(int AOutputStreamCount) {
  if (StreamMapCount > 0 && StreamMapCount != AOutputStreamCount)
    Fail("Number of stream maps must match number of output streams");
  const TRunTables& R = *RunTables;
  auto Exists = [&](int AFile, int AStream) {
    return AFile >= 0 && AFile < InputFileCount && AStream >= 0 && AStream < R.Files[AFile].NbStreams;
  };
  for (int M = 0; M < StreamMapCount; ++M) {
    const TStreamMap& Map = StreamMaps[M];
    if (!Exists(Map.FileIndex, Map.StreamIndex))
      Fail(FormatText("Could not find input stream #%d.%d", Map.FileIndex, Map.StreamIndex));
    if (!Exists(Map.SyncFileIndex, Map.SyncStreamIndex))
      Fail(FormatText("Could not find sync stream #%d.%d", Map.SyncFileIndex, Map.SyncStreamIndex));
  }
}

// One record per stream of every output, each with the input stream it is made from:
// the stream map's, or else one chosen by type.
void TCustomFFmpeg::MapOutputStreams() {
  TRunTables& R = *RunTables;
  for (int F = 0, N = 0; F < OutputFileCount; ++F)
    for (unsigned S = 0; S < OutputFiles[F]->nb_streams; ++S, ++N) {
      auto Ost = std::make_unique<OutputStream>();
      Ost->FileIndex = F;
      Ost->Index = static_cast<int32_t>(S);
      Ost->St = OutputFiles[F]->streams[S];
      Ost->Setup = &OutputCodecs[F][S];
      Ost->Encoder = Ost->Setup->Codec.get();
      const int Source = StreamMapCount > 0 ? MappedSource(*Ost, StreamMaps[N]) : ChosenSource(*Ost);
      Ost->SourceIndex = Source;
      R.InputStreams[Source]->Discard = false;
      R.OutputStreams.push_back(std::move(Ost));
    }
}

int TCustomFFmpeg::MappedSource(OutputStream& AOst, const TStreamMap& AMap) {
  const TRunTables& R = *RunTables;
  const int Source = R.Files[AMap.FileIndex].IstIndex + AMap.StreamIndex;
  if (TypeOf(R.InputStreams[Source]->St) != TypeOf(AOst.St))
    FailMapping(AOst, FormatText("Codec type mismatch for mapping #%d.%d -> #%d.%d", AMap.FileIndex, AMap.StreamIndex,
                                 AOst.FileIndex, AOst.Index));
  AOst.SyncIst = R.InputStreams[R.Files[AMap.SyncFileIndex].IstIndex + AMap.SyncStreamIndex].get();
  return Source;
}

int TCustomFFmpeg::ChosenSource(OutputStream& AOst) {
  const AVMediaType Type = TypeOf(AOst.St);
  const int Source = ProgramId != 0 ? ProgramSource(Type) : FreeSource(Type);
  if (Source < 0)
    FailMapping(AOst, FormatText("Could not find input stream matching output stream #%d.%d", AOst.FileIndex,
                                 AOst.Index));
  AOst.SyncIst = RunTables->InputStreams[Source].get();
  return Source;
}

// The first input stream of the type in the chosen program that no output takes yet,
// or -1.
int TCustomFFmpeg::ProgramSource(AVMediaType AType) const {
  for (int I = 0; I < InputFileCount; ++I)
    for (unsigned P = 0; P < InputFiles[I]->nb_programs; ++P) {
      const AVProgram* Program = InputFiles[I]->programs[P];
      if (Program->id != ProgramId) continue;
      const int Source = FreeSourceOfProgram(I, *Program, AType);
      if (Source >= 0) return Source;
    }
  return -1;
}

int TCustomFFmpeg::FreeSourceOfProgram(int AFileIndex, const AVProgram& AProgram, AVMediaType AType) const {
  const TRunTables& R = *RunTables;
  for (unsigned K = 0; K < AProgram.nb_stream_indexes; ++K) {
    const int Candidate = R.Files[AFileIndex].IstIndex + static_cast<int>(AProgram.stream_index[K]);
    if (R.InputStreams[Candidate]->Discard && TypeOf(R.InputStreams[Candidate]->St) == AType) return Candidate;
  }
  return -1;
}

// The first input stream of the type that no output takes yet; several outputs may
// share one input: failing that, the last one of the type. -1 when there is none.
int TCustomFFmpeg::FreeSource(AVMediaType AType) const {
  const TRunTables& R = *RunTables;
  for (size_t I = 0; I < R.InputStreams.size(); ++I)
    if (R.InputStreams[I]->Discard && TypeOf(R.InputStreams[I]->St) == AType) return static_cast<int>(I);
  for (size_t I = R.InputStreams.size(); I-- > 0;)
    if (TypeOf(R.InputStreams[I]->St) == AType) return static_cast<int>(I);
  return -1;
}

// The output's layout goes to the log before a mapping failure is raised.
void TCustomFFmpeg::FailMapping(const OutputStream& AOst, const std::string& AMessage) {
  av::av_dump_format(OutputFiles[AOst.FileIndex].get(), AOst.FileIndex, OutputFiles[AOst.FileIndex]->url, 1);
  Fail(AMessage);
}

void TCustomFFmpeg::LogStreamMapping() {
  if (Verbose < 0 || !OnLogHandler) return;
  Log(1, "Stream mapping:");
  for (const auto& Ost : RunTables->OutputStreams) {
    const InputStream& Ist = *RunTables->InputStreams[Ost->SourceIndex];
    Log(1, FormatText("  Stream #%d.%d -> #%d.%d", Ist.FileIndex, Ist.Index, Ost->FileIndex, Ost->Index));
    if (Ost->SyncIst != &Ist) Log(1, FormatText(" [sync #%d.%d]", Ost->SyncIst->FileIndex, Ost->SyncIst->Index));
  }
}

void TCustomFFmpeg::SetUpOutputStream(OutputStream& AOst, int AOrdinal) {
  InputStream& Ist = *RunTables->InputStreams[AOst.SourceIndex];
  AVStream* St = AOst.St;
  AVCodecContext* Enc = AOst.Encoder;
  const AVCodecParameters* In = Ist.St->codecpar;

  if (!av::av_dict_get(St->metadata, "language", nullptr, 0))
    if (const AVDictionaryEntry* Lang = av::av_dict_get(Ist.St->metadata, "language", nullptr, 0))
      av::av_dict_set(&St->metadata, "language", std::string(Lang->value).substr(0, 3).c_str(), 0);
  St->disposition = Ist.St->disposition;

  if (AOst.Setup->StreamCopy) {
    const uint32_t ForcedTag = Enc ? Enc->codec_tag : 0;
    if (av::avcodec_parameters_copy(St->codecpar, In) < 0) Fail("av_mallocz fail");
    const AVCodecTag* const* Table = OutputFiles[AOst.FileIndex]->oformat->codec_tag;
    if (ForcedTag)
      St->codecpar->codec_tag = ForcedTag;
    else if (Table && !av::av_codec_get_id(Table, In->codec_tag) && av::av_codec_get_tag(Table, In->codec_id))
      St->codecpar->codec_tag = 0;  // the muxer chooses its own tag for this codec
    St->time_base = Ist.St->time_base;
    switch (In->codec_type) {
      case AVMEDIA_TYPE_AUDIO:
        if (AudioVolume != 256) Fail("-acodec copy and -vol are incompatible (frames are not decoded)");
        if ((St->codecpar->block_align == 1 && In->codec_id == AV_CODEC_ID_MP3) || In->codec_id == AV_CODEC_ID_AC3)
          St->codecpar->block_align = 0;
        break;
      case AVMEDIA_TYPE_VIDEO:
        if (OnCustomHookHandler) Fail("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (UsingVHook) Fail("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        break;
      case AVMEDIA_TYPE_SUBTITLE: break;
      default: Fail("invalid codec_type of output stream");
    }
    return;
  }

  switch (Enc->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      AOst.Fifo.reset(av::av_audio_fifo_alloc(Enc->sample_fmt, Enc->ch_layout.nb_channels, 1024));
      if (!AOst.Fifo) Fail("av_fifo_init fail");
      AOst.AudioResample = Enc->sample_rate != In->sample_rate || AudioSyncMethod > 1;
      Ist.DecodingNeeded = AOst.EncodingNeeded = true;
      break;
    case AVMEDIA_TYPE_VIDEO: SetUpVideoEncoding(AOst, Ist); break;
    case AVMEDIA_TYPE_SUBTITLE: SetUpSubtitleEncoding(AOst, Ist); break;
    default: Fail("invalid codec_type of output stream");
  }

  if (Enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) {
    const std::string Name =
        ((PassLogFilePrefix.empty() ? std::string("ffmpeg2pass") : PassLogFilePrefix) + "-" +
         std::to_string(AOrdinal) + ".log")
            .substr(0, 1023);
    if (Enc->flags & AV_CODEC_FLAG_PASS1) {
      AOst.LogFile.reset(av::my_fopen(Name.c_str(), "w"));
      if (!AOst.LogFile) Fail("creat file fail: " + Name);
    } else {
      TMyFilePtr File(av::my_fopen(Name.c_str(), "r"));
      if (!File) Fail("creat open fail: " + Name);
      av::my_fseek(File.get(), 0, SEEK_END);
      const long Size = std::max(0L, av::my_ftell(File.get()));
      av::my_fseek(File.get(), 0, SEEK_SET);
      char* Stats = static_cast<char*>(av::av_malloc(static_cast<size_t>(Size) + 1));
      if (!Stats) Fail("Could not allocate log buffer");
      const size_t Read = av::my_fread(Stats, 1, static_cast<size_t>(Size), File.get());
      Stats[Read] = 0;
      Enc->stats_in = Stats;
    }
  }
}

namespace {

// A new picture in the encoder's format and size.
bool AllocatePicture(TFramePtr& APicture, const AVCodecContext* AEnc) {
  APicture.reset(av::av_frame_alloc());
  if (!APicture) return false;
  APicture->format = AEnc->pix_fmt;
  APicture->width = AEnc->width;
  APicture->height = AEnc->height;
  return AEnc->pix_fmt != AV_PIX_FMT_NONE && av::av_frame_get_buffer(APicture.get(), 0) >= 0;
}

}  // namespace

void TCustomFFmpeg::SetUpVideoEncoding(OutputStream& AOst, InputStream& AIst) {
  AVCodecContext* Enc = AOst.Encoder;
  const AVCodecContext* Dec = AIst.Decoder;
  if (!Dec) Fail(FormatText("Unsupported codec (id=%d) for input stream #%d.%d", AIst.St->codecpar->codec_id,
                            AIst.FileIndex, AIst.Index));
  // A size the set-up cannot know would give a scaler or an encoder of no size.
  if (Dec->width <= 0 || Dec->height <= 0)
    Fail(FormatText("Unknown frame size of input stream #%d.%d", AIst.FileIndex, AIst.Index));
  if (Enc->width <= 0 || Enc->height <= 0)
    Fail(FormatText("Unknown frame size for output stream #%d.%d: set a frame size", AOst.FileIndex, AOst.Index));
  const int CropWidth = CropLeft + CropRight, CropHeight = CropTop + CropBottom;
  const int PadWidth = PadLeft + PadRight, PadHeight = PadTop + PadBottom;
  if (Dec->width - CropWidth <= 0)
    Fail("Horizontal crop dimensions are outside the range of the original image.\n"
         "Remember to crop first and scale second.");
  if (Dec->height - CropHeight <= 0)
    Fail("Vertical crop dimensions are outside the range of the original image.\n"
         "Remember to crop first and scale second.");
  if (Enc->width - PadWidth <= 0 || Enc->height - PadHeight <= 0)
    Fail(FormatText("Padding leaves no room for the picture of output stream #%d.%d", AOst.FileIndex, AOst.Index));

  AOst.VideoCrop = CropWidth + CropHeight != 0;
  AOst.VideoPad = PadWidth + PadHeight != 0;
  AOst.VideoResample = Enc->width != Dec->width - CropWidth + PadWidth ||
                       Enc->height != Dec->height - CropHeight + PadHeight || Enc->pix_fmt != Dec->pix_fmt;
  if (AOst.VideoCrop) {
    AOst.TopBand = CropTop;
    AOst.LeftBand = CropLeft;
    AOst.BottomBand = CropBottom;
    AOst.RightBand = CropRight;
  }
  if (AOst.VideoPad) {
    AOst.PadTop = PadTop;
    AOst.PadBottom = PadBottom;
    AOst.PadLeft = PadLeft;
    AOst.PadRight = PadRight;
    if (!AOst.VideoResample && !AllocatePicture(AOst.PictTmp, Enc)) Fail("avpicture_alloc fail");
  }
  if (AOst.VideoResample) {
    if (!AllocatePicture(AOst.PictTmp, Enc)) Fail("Cannot allocate temp picture, check pix fmt");
    int64_t Flags = SwsFlags;
    if (ScaleOpts && av::av_opt_get_int(ScaleOpts.get(), "sws_flags", 0, &Flags) >= 0)
      SwsFlags = static_cast<int32_t>(Flags);
    AOst.ImgResampleCtx.reset(av::sws_getContext(Dec->width - CropWidth, Dec->height - CropHeight, Dec->pix_fmt,
                                                 Enc->width - PadWidth, Enc->height - PadHeight, Enc->pix_fmt,
                                                 SwsFlags, nullptr, nullptr, nullptr));
    if (!AOst.ImgResampleCtx) Fail("Cannot get resampling context");
    AOst.ResampleHeight = FiltersActive ? Dec->height : Dec->height - CropHeight;
  }
  AOst.EncodingNeeded = AIst.DecodingNeeded = true;
  LastError.clear();
  if (FiltersActive && ConfigureFilters(AIst, AOst) != 0)
    Fail(LastError.empty() ? std::string("Error opening filters!") : "Error opening filters: " + LastError);
}

namespace {

// The styles of a plain ASS script: what text subtitles look like when the input does
// not say.
constexpr const char* DefaultAssHeader =
    "[Script Info]\r\n"
    "ScriptType: v4.00+\r\n"
    "PlayResX: 384\r\n"
    "PlayResY: 288\r\n"
    "\r\n"
    "[V4+ Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
    "MarginV, Encoding\r\n"
    "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0\r\n"
    "\r\n"
    "[Events]\r\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";

}  // namespace

void TCustomFFmpeg::SetUpSubtitleEncoding(OutputStream& AOst, InputStream& AIst) {
  AVCodecContext* Enc = AOst.Encoder;
  if (Enc->time_base.num <= 0 || Enc->time_base.den <= 0) Enc->time_base = AVRational{1, 1000};
  // Text encoders take their styles from a header (some cannot start without one): the
  // input's when it has one in that form, otherwise plain defaults.
  const AVCodecParameters* In = AIst.St->codecpar;
  const AVCodecDescriptor* Output = av::avcodec_descriptor_get(Enc->codec_id);
  if (!Enc->subtitle_header && Output && (Output->props & AV_CODEC_PROP_TEXT_SUB)) {
    const bool InputHeader =
        In->extradata_size > 0 && (In->codec_id == AV_CODEC_ID_ASS || In->codec_id == AV_CODEC_ID_SSA);
    const uint8_t* Header = InputHeader ? In->extradata : reinterpret_cast<const uint8_t*>(DefaultAssHeader);
    const size_t Size = InputHeader ? static_cast<size_t>(In->extradata_size) : std::strlen(DefaultAssHeader);
    Enc->subtitle_header = static_cast<uint8_t*>(av::av_mallocz(Size + 1));
    if (!Enc->subtitle_header) Fail("av_mallocz fail");
    std::copy_n(Header, Size, Enc->subtitle_header);
    Enc->subtitle_header_size = static_cast<int>(Size);
  }
  AOst.EncodingNeeded = AIst.DecodingNeeded = true;
}

// ---------------------------------------------------------------------------
// Codecs, bitstream filters, meta-data and headers

namespace {

// "name" or "name=key=value:key=value": a filter with its options.
TBsfContextPtr MakeBitstreamFilter(const std::string& ASpec, const AVStream* AStream) {
  std::string Args = ASpec;
  const std::string Name = SplitText(Args, "=");
  const AVBitStreamFilter* Filter = av::av_bsf_get_by_name(Name.c_str());
  AVBSFContext* Raw = nullptr;
  if (!Filter || av::av_bsf_alloc(Filter, &Raw) < 0) Fail("Unknown bitstream filter " + Trim(ASpec));
  TBsfContextPtr Context(Raw);
  while (!Args.empty()) {
    std::string Pair = SplitText(Args, ":");
    const std::string Key = SplitText(Pair, "=");
    if (av::av_opt_set(Context.get(), Key.c_str(), Pair.c_str(), AV_OPT_SEARCH_CHILDREN) < 0)
      Fail("Invalid option " + Key + " of bitstream filter " + Name);
  }
  av::avcodec_parameters_copy(Context->par_in, AStream->codecpar);
  Context->time_base_in = AStream->time_base;
  if (av::av_bsf_init(Context.get()) < 0) Fail("Cannot initialise bitstream filter " + Name);
  return Context;
}

void FillDictionary(TDictionary& ADict, const std::map<std::string, std::string>& AOptions) {
  for (const auto& [Name, Value] : AOptions) av::av_dict_set(ADict.Address(), Name.c_str(), Value.c_str(), 0);
}

}  // namespace

void TCustomFFmpeg::OpenCodecsAndHeaders() {
  TRunTables& R = *RunTables;
  for (auto& Ost : R.OutputStreams) {
    if (!Ost->EncodingNeeded) continue;
    AVCodecContext* Enc = Ost->Encoder;
    const AVCodec* Codec = av::avcodec_find_encoder(Enc->codec_id);
    if (!Codec) Fail(FormatText("Unsupported codec for output stream #%d.%d", Ost->FileIndex, Ost->Index));
    TDictionary Options;
    FillDictionary(Options, Ost->Setup->PrivateOptions);
    {
      std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
      if (av::avcodec_open2(Enc, Codec, Options.Address()) < 0)
        Fail(FormatText("Error while opening codec for output stream #%d.%d - maybe incorrect parameters such as "
                        "bit_rate, rate, width or height",
                        Ost->FileIndex, Ost->Index));
      OutputStreamList.push_front(Enc);
    }
    ExtraSize += Enc->extradata_size;
    av::avcodec_parameters_from_context(Ost->St->codecpar, Enc);
    Ost->St->time_base = Enc->time_base;
    Ost->EncoderFrame.reset(av::av_frame_alloc());
    Ost->EncodedPacket.reset(av::av_packet_alloc());
    if (!Ost->EncoderFrame || !Ost->EncodedPacket) Fail("av_mallocz fail");
  }
  for (auto& Ost : R.OutputStreams)
    for (const std::string& Spec : BitstreamFilters[Ost->FileIndex][Ost->Index]) {
      Ost->BitstreamFilters.push_back(MakeBitstreamFilter(Spec, Ost->St));
      av::avcodec_parameters_copy(Ost->St->codecpar, Ost->BitstreamFilters.back()->par_out);
    }

  for (auto& Ist : R.InputStreams) {
    if (Ist->DecodingNeeded) {
      AVCodecContext* Dec = Ist->Decoder;
      const AVCodec* Codec = Dec ? av::avcodec_find_decoder(Dec->codec_id) : nullptr;
      if (!Codec)
        Fail(FormatText("Unsupported codec (id=%d) for input stream #%d.%d", Dec ? Dec->codec_id : 0, Ist->FileIndex,
                        Ist->Index));
      std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
      if (av::avcodec_open2(Dec, Codec, nullptr) < 0)
        Fail(FormatText("Error while opening codec for input stream #%d.%d", Ist->FileIndex, Ist->Index));
      InputStreamList.push_front(Dec);
      Ist->Decoded.reset(av::av_frame_alloc());
      if (!Ist->Decoded) Fail("av_mallocz fail");
    }
    Ist->Pts = 0;
    Ist->NextPts = NoPtsValue;
    Ist->IsStart = true;
  }

  for (int M = 0; M < MetaDataMapCount; ++M) {
    const TMetaDataMap& Map = MetaDataMaps[M];
    if (Map.OutFile < 0 || Map.OutFile >= OutputFileCount)
      Fail(FormatText("Invalid output file index %d map_meta_data(%d,%d)", Map.OutFile, Map.OutFile, Map.InFile));
    if (Map.InFile < 0 || Map.InFile >= InputFileCount)
      Fail(FormatText("Invalid input file index %d map_meta_data(%d,%d)", Map.InFile, Map.OutFile, Map.InFile));
    av::av_dict_copy(&OutputFiles[Map.OutFile]->metadata, InputFiles[Map.InFile]->metadata, 0);
  }

  bool WantSdp = true;
  for (int F = 0; F < OutputFileCount; ++F) {
    TDictionary Options;
    FillDictionary(Options, OutputMuxing[F].PrivateOptions);
    const AVClass* const* MuxerClass = &OutputFiles[F]->oformat->priv_class;
    if (*MuxerClass &&
        av::av_opt_find(const_cast<const AVClass**>(MuxerClass), "preload", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
      av::av_dict_set(Options.Address(), "preload", std::to_string(OutputMuxing[F].PreloadUs).c_str(), 0);
    if (av::avformat_write_header(OutputFiles[F].get(), Options.Address()) < 0)
      Fail(FormatText("Could not write header for output file #%d (incorrect codec parameters ?)", F));
    if (std::string(OutputFiles[F]->oformat->name) != "rtp") WantSdp = false;
  }
  if (WantSdp && OnLogHandler) {
    std::vector<AVFormatContext*> Files;
    for (int F = 0; F < OutputFileCount; ++F) Files.push_back(OutputFiles[F].get());
    char Sdp[2048] = {};
    av::av_sdp_create(Files.data(), OutputFileCount, Sdp, sizeof Sdp);
    Log(1, "SDP: " + Trim(Sdp));
  }
  TimerStart = av::av_gettime();
}

// ---------------------------------------------------------------------------
// Main loop

void TCustomFFmpeg::CorrectTimestamps(InputStream& AIst, AVPacket* APacket) {
  const AVRational Tb = AIst.St->time_base;
  const int64_t Offset = av::av_rescale_q(InputTsOffsets[AIst.FileIndex], MicroSeconds, Tb);
  if (APacket->dts != NoPtsValue) APacket->dts += Offset;
  if (APacket->pts != NoPtsValue) APacket->pts += Offset;
  const double Scale = AIst.Index < MAX_STREAMS ? InputTsScale[AIst.FileIndex][AIst.Index] : 0;
  if (Scale != 0) {
    if (APacket->pts != NoPtsValue) APacket->pts = std::llround(APacket->pts * Scale);
    if (APacket->dts != NoPtsValue) APacket->dts = std::llround(APacket->dts * Scale);
  }
  if (APacket->dts != NoPtsValue && AIst.NextPts != NoPtsValue && !CopyTs) {
    const int64_t Dts = av::av_rescale_q(APacket->dts, Tb, MicroSeconds);
    const int64_t Delta = Dts - AIst.NextPts;
    if (std::fabs(static_cast<double>(Delta)) > DtsDeltaThreshold * 1000000.0 || Dts + 1 < AIst.Pts) {
      InputTsOffsets[AIst.FileIndex] -= Delta;
      if (Verbose > 2)
        Log(1, FormatText("timestamp discontinuity %lld, new offset= %lld", static_cast<long long>(Delta),
                          static_cast<long long>(InputTsOffsets[AIst.FileIndex])));
      const int64_t Shift = av::av_rescale_q(Delta, MicroSeconds, Tb);
      APacket->dts -= Shift;
      if (APacket->pts != NoPtsValue) APacket->pts -= Shift;
    }
  }
}

void TCustomFFmpeg::RunMainLoop() {
  TRunTables& R = *RunTables;
  AVPacket* Packet = R.Packet.get();
  int64_t LastReport = TimerStart;
  while (!StopRequested) {
    double OptsMin = 1e100, IptsMin = 1e100;
    int Chosen = -1;
    for (auto& Ost : R.OutputStreams) {
      const InputStream& Ist = *R.InputStreams[Ost->SourceIndex];
      const AVMediaType Type = TypeOf(Ost->St);
      const double Opts = (Type == AVMEDIA_TYPE_VIDEO && Ost->EncodingNeeded)
                              ? Ost->SyncOpts * av_q2d(Ost->Encoder->time_base)
                              : Ost->MuxedEnd * av_q2d(Ost->St->time_base);
      const double Ipts = static_cast<double>(Ist.Pts);
      if (!R.Files[Ist.FileIndex].EofReached) {
        if (Ipts < IptsMin) {
          IptsMin = Ipts;
          if (InputSync) Chosen = Ist.FileIndex;
        }
        if (Opts < OptsMin) {
          OptsMin = Opts;
          if (!InputSync) Chosen = Ist.FileIndex;
        }
      }
      if (Type >= 0 && Type < 4 && Ost->FrameNumber >= MaxFrames[Type]) {
        Chosen = -1;
        break;
      }
    }
    if (Chosen < 0) break;
    if (!(static_cast<double>(RecordingTime) / 1000000 > OptsMin)) break;
    if (LimitFileSize != 0 && OutputFiles[0]->pb && av::avio_seek(OutputFiles[0]->pb, 0, SEEK_CUR) > LimitFileSize)
      break;

    if (av::av_read_frame(InputFiles[Chosen].get(), Packet) < 0) {
      R.Files[Chosen].EofReached = true;
      if (Shortest) break;
      continue;
    }
    if (DoPktDump)
      av::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, Packet, DoHexDump,
                           Packet->stream_index < R.Files[Chosen].NbStreams
                               ? InputFiles[Chosen]->streams[Packet->stream_index]
                               : InputFiles[Chosen]->streams[0]);
    if (Packet->stream_index >= R.Files[Chosen].NbStreams ||
        R.InputStreams[R.Files[Chosen].IstIndex + Packet->stream_index]->Discard) {
      av::av_packet_unref(Packet);
      continue;
    }
    const int IstIndex = R.Files[Chosen].IstIndex + Packet->stream_index;
    InputStream& Ist = *R.InputStreams[IstIndex];
    CorrectTimestamps(Ist, Packet);
    if (OutputPacket(Ist, IstIndex, Packet) < 0) {
      av::av_packet_unref(Packet);
      const std::string Message = FormatText("Error while decoding stream #%d.%d", Ist.FileIndex, Ist.Index);
      if (ExitOnError) Fail(Message);
      if (Verbose >= 0) Log(1, Message);
      continue;
    }
    av::av_packet_unref(Packet);
    const int64_t Now = av::av_gettime();
    if (Now - LastReport > ProgressIntervalUs) {
      LastReport = Now;
      PrintReport(false);
    }
  }
}

void TCustomFFmpeg::FinishRun() {
  TRunTables& R = *RunTables;
  for (size_t I = 0; I < R.InputStreams.size(); ++I)
    if (R.InputStreams[I]->DecodingNeeded) OutputPacket(*R.InputStreams[I], static_cast<int>(I), nullptr);
  for (int F = 0; F < OutputFileCount; ++F) av::av_write_trailer(OutputFiles[F].get());
  PrintReport(true);
  for (auto& Ost : R.OutputStreams) {
    if (!Ost->EncodingNeeded) continue;
    av::av_freep(&Ost->Encoder->stats_in);
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    av::avcodec_close(Ost->Encoder);
    OutputStreamList.remove(Ost->Encoder);
  }
  for (auto& Ist : R.InputStreams) {
    if (!Ist->DecodingNeeded) continue;
    std::lock_guard<Platform::TReentrantLock> Guard(CodecLock);
    av::avcodec_close(Ist->Decoder);
    InputStreamList.remove(Ist->Decoder);
  }
  Finished = !StopRequested;
}
