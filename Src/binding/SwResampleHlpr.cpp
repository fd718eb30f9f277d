#include "SwResampleHlpr.h"

PEMMET_DEFINE_BINDING(SwResample, "swresample", LIBSWRESAMPLE_VERSION_MAJOR, PEMMET_SWRESAMPLE_ENTRIES)

bool LoadSwResampleLib(std::string& AError, const std::string& AFolder, bool AVersioned) {
  return SwResampleBinding().Load(AError, AFolder, AVersioned);
}
