#include "AVFormatHlpr.h"

PEMMET_DEFINE_BINDING(AVFormat, "avformat", LIBAVFORMAT_VERSION_MAJOR, PEMMET_AVFORMAT_ENTRIES)

bool LoadAVFormatLib(std::string& AError, const std::string& AFolder, bool AVersioned, bool /*ARegisterAll*/) {
  return AVFormatBinding().Load(AError, AFolder, AVersioned);
}
