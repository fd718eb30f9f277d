#include "SwScaleHlpr.h"

PEMMET_DEFINE_BINDING(SwScale, "swscale", LIBSWSCALE_VERSION_MAJOR, PEMMET_SWSCALE_ENTRIES)

bool LoadSwScaleLib(std::string& AError, const std::string& AFolder, bool AVersioned) {
  return SwScaleBinding().Load(AError, AFolder, AVersioned);
}
