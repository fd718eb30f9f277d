// The video filter graph of an output stream: the engine's source and sink, the crop
// and scale its geometry needs, and the user's chain between them.
#include "FFmpegRun.h"
#include "MyUtils.h"

namespace {

constexpr AVRational MicroSeconds{1, 1000000};

// An instance of the library filter AFilterName named AName in AGraph, initialised
// with AArguments; null when the library lacks it or refuses the arguments.
AVFilterContext* CreateFilter(AVFilterGraph* AGraph, const std::string& AFilterName, const std::string& AName,
                              const std::string& AArguments) {
  const AVFilter* Filter = av::avfilter_get_by_name(AFilterName.c_str());
  if (!Filter) return nullptr;
  AVFilterContext* Context = nullptr;
  if (av::avfilter_graph_create_filter(&Context, Filter, AName.c_str(), AArguments.empty() ? nullptr : AArguments.c_str(),
                                       nullptr, AGraph) < 0)
    return nullptr;
  return Context;
}

// The source describes the decoder's pictures; times are handed over in microseconds.
// Filters that make pictures of their own need the stream's rate.
std::string SourceArguments(const InputStream& AIst) {
  const AVCodecContext* Dec = AIst.Decoder;
  AVRational Aspect = Dec->sample_aspect_ratio;
  if (Aspect.num <= 0 || Aspect.den <= 0) Aspect = AVRational{0, 1};
  std::string Arguments =
      FormatText("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", Dec->width, Dec->height,
                 static_cast<int>(Dec->pix_fmt), MicroSeconds.num, MicroSeconds.den, Aspect.num, Aspect.den);
  for (const AVRational Rate : {AIst.St->avg_frame_rate, AIst.St->r_frame_rate, Dec->framerate})
    if (Rate.num > 0 && Rate.den > 0) return Arguments + FormatText(":frame_rate=%d/%d", Rate.num, Rate.den);
  return Arguments;
}

// A filter after ALast in the chain; the new last one, or null.
AVFilterContext* AppendFilter(AVFilterGraph* AGraph, AVFilterContext* ALast, const char* AFilterName,
                              const std::string& AArguments) {
  AVFilterContext* Filter = CreateFilter(AGraph, AFilterName, AFilterName, AArguments);
  if (!Filter || av::avfilter_link(ALast, 0, Filter, 0) < 0) return nullptr;
  return Filter;
}

// One open end of the graph text, named AName, at pad 0 of AFilter.
TFilterInOutPtr OpenEnd(const char* AName, AVFilterContext* AFilter) {
  TFilterInOutPtr End(av::avfilter_inout_alloc());
  if (!End) return End;
  End->name = av::av_strdup(AName);
  End->filter_ctx = AFilter;
  End->pad_idx = 0;
  End->next = nullptr;
  if (!End->name) End.reset();
  return End;
}

// The user's chain between ALast ("in") and the sink ("out").
bool ParseChain(AVFilterGraph* AGraph, const std::string& AChain, AVFilterContext* ALast, AVFilterContext* ASink) {
  TFilterInOutPtr Outputs = OpenEnd("in", ALast);
  TFilterInOutPtr Inputs = OpenEnd("out", ASink);
  if (!Outputs || !Inputs) return false;
  AVFilterInOut* InputsLeft = Inputs.release();
  AVFilterInOut* OutputsLeft = Outputs.release();
  const int Ret = av::avfilter_graph_parse_ptr(AGraph, AChain.c_str(), &InputsLeft, &OutputsLeft, nullptr);
  // The parser hands back the ends it did not link.
  Inputs.reset(InputsLeft);
  Outputs.reset(OutputsLeft);
  return Ret >= 0;
}

}  // namespace

int TCustomFFmpeg::ConfigureFilters(InputStream& AIst, OutputStream& AOst) {
  if (CropTop + CropBottom + CropLeft + CropRight != 0) {
    LastError = "Cannot enable crop options and filters at the same time.";
    return -1;
  }
  const AVCodecContext* Dec = AIst.Decoder;
  AVCodecContext* Enc = AOst.Encoder;
  const int PadWidth = PadLeft + PadRight, PadHeight = PadTop + PadBottom;

  TFilterGraphPtr Graph(av::avfilter_graph_alloc());
  if (!Graph) return -1;
  AVFilterContext* Source = CreateFilter(Graph.get(), InputFilterDef.LibraryName, InputFilterDef.Name,
                                         SourceArguments(AIst));
  AVFilterContext* Sink = CreateFilter(Graph.get(), OutputFilterDef.LibraryName, OutputFilterDef.Name, "");
  if (!Source || !Sink) return -1;
  const AVPixelFormat SinkFormat = Enc->pix_fmt;
  if (av::av_opt_set_bin(Sink, "pix_fmts", reinterpret_cast<const uint8_t*>(&SinkFormat), sizeof(SinkFormat),
                         AV_OPT_SEARCH_CHILDREN) < 0)
    return -1;
  AVFilterContext* Last = Source;

  if (AOst.VideoCrop) {
    // The window the crop options leave of the decoded picture.
    const std::string Arguments =
        FormatText("%d:%d:%d:%d", Dec->width - AOst.LeftBand - AOst.RightBand,
                   Dec->height - AOst.TopBand - AOst.BottomBand, AOst.LeftBand, AOst.TopBand);
    if (!(Last = AppendFilter(Graph.get(), Last, "crop", Arguments))) return -1;
  }
  if (Dec->width - CropLeft - CropRight + PadWidth != Enc->width ||
      Dec->height - CropTop - CropBottom + PadHeight != Enc->height) {
    const std::string Arguments = FormatText("%d:%d", Enc->width - PadWidth, Enc->height - PadHeight);
    if (!(Last = AppendFilter(Graph.get(), Last, "scale", Arguments))) return -1;
  }
  if (!VideoFilters.empty()) {
    if (!ParseChain(Graph.get(), VideoFilters, Last, Sink)) return -1;
  } else if (av::avfilter_link(Last, 0, Sink, 0) < 0) {
    return -1;
  }
  if (av::avfilter_graph_config(Graph.get(), nullptr) < 0 || Sink->nb_inputs < 1 || !Sink->inputs[0]) return -1;

  // Padding frames what the chain gives; it can only frame the size it was set up for.
  const AVFilterLink* Link = Sink->inputs[0];
  if (PadWidth + PadHeight != 0 && (Link->w != Enc->width - PadWidth || Link->h != Enc->height - PadHeight)) {
    LastError =
        "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
        "transpose, etc.)";
    return -1;
  }
  TFramePtr Filtered(av::av_frame_alloc());
  if (!Filtered) return -1;
  Enc->width = Link->w + PadWidth;
  Enc->height = Link->h + PadHeight;
  AOst.FilterGraph = std::move(Graph);
  AOst.InputVideoFilter = Source;
  AOst.OutputVideoFilter = Sink;
  AOst.FilteredPicture = std::move(Filtered);
  AOst.FilterWidth = Dec->width;
  AOst.FilterHeight = Dec->height;
  AOst.FilterFormat = Dec->pix_fmt;
  return 0;
}

AVFrame* TCustomFFmpeg::FitFilterInput(OutputStream& AOst, AVFrame* APicture) {
  if (APicture->width == AOst.FilterWidth && APicture->height == AOst.FilterHeight &&
      APicture->format == AOst.FilterFormat)
    return APicture;
  // Filters trust the sizes they were set up with: a picture of another size would be
  // read past its end.
  if (!AOst.FilterInput) AOst.FilterInput.reset(av::av_frame_alloc());
  AVFrame* Fitted = AOst.FilterInput.get();
  if (!Fitted) return nullptr;
  av::av_frame_unref(Fitted);
  Fitted->width = AOst.FilterWidth;
  Fitted->height = AOst.FilterHeight;
  Fitted->format = AOst.FilterFormat;
  if (av::av_frame_get_buffer(Fitted, 0) < 0) return nullptr;
  AOst.FilterInputScaler.reset(av::sws_getCachedContext(
      AOst.FilterInputScaler.release(), APicture->width, APicture->height, static_cast<AVPixelFormat>(APicture->format),
      AOst.FilterWidth, AOst.FilterHeight, AOst.FilterFormat, SwsFlags, nullptr, nullptr, nullptr));
  if (!AOst.FilterInputScaler) return nullptr;
  av::sws_scale(AOst.FilterInputScaler.get(), APicture->data, APicture->linesize, 0, APicture->height, Fitted->data,
                Fitted->linesize);
  av::av_frame_copy_props(Fitted, APicture);
  return Fitted;
}

bool TCustomFFmpeg::FeedFilters(OutputStream& AOst, const InputStream& AIst, AVFrame* APicture) {
  AVFrame* Picture = FitFilterInput(AOst, APicture);
  if (!Picture) return false;
  // The picture is shared with the other outputs of the input stream: lend it the
  // graph's time only for the hand-over.
  const int64_t Pts = Picture->pts;
  Picture->pts = AIst.Pts;
  const int Ret = av::av_buffersrc_add_frame_flags(AOst.InputVideoFilter, Picture, AV_BUFFERSRC_FLAG_KEEP_REF);
  Picture->pts = Pts;
  if (Picture != APicture) av::av_frame_unref(Picture);
  return Ret >= 0;
}

void TCustomFFmpeg::CloseFilters(OutputStream& AOst) {
  // Closing twice is harmless; a source that cannot be closed has nothing more to give.
  if (av::av_buffersrc_add_frame_flags(AOst.InputVideoFilter, nullptr, 0) < 0) return;
}

int TCustomFFmpeg::GetFilteredVideoPic(AVFilterContext* ASink, AVFrame* APicture, int64_t& APts) {
  av::av_frame_unref(APicture);
  if (av::av_buffersink_get_frame(ASink, APicture) < 0) return -1;
  if (APicture->pts != NoPtsValue)
    APts = av::av_rescale_q(APicture->pts, av::av_buffersink_get_time_base(ASink), MicroSeconds);
  return 1;
}
