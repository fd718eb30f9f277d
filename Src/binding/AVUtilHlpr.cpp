#include "AVUtilHlpr.h"

PEMMET_DEFINE_BINDING(AVUtil, "avutil", LIBAVUTIL_VERSION_MAJOR, PEMMET_AVUTIL_ENTRIES)

bool LoadAVUtilLib(std::string& AError, const std::string& AFolder, bool AVersioned) {
  return AVUtilBinding().Load(AError, AFolder, AVersioned);
}
