#include "AVFilterHlpr.h"

PEMMET_DEFINE_BINDING(AVFilter, "avfilter", LIBAVFILTER_VERSION_MAJOR, PEMMET_AVFILTER_ENTRIES)

bool LoadAVFilterLib(std::string& AError, const std::string& AFolder, bool AVersioned, bool /*ARegisterAll*/) {
  return AVFilterBinding().Load(AError, AFolder, AVersioned);
}
