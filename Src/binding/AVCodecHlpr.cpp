#include "AVCodecHlpr.h"

PEMMET_DEFINE_BINDING(AVCodec, "avcodec", LIBAVCODEC_VERSION_MAJOR, PEMMET_AVCODEC_ENTRIES)

bool LoadAVCodecLib(std::string& AError, const std::string& AFolder, bool AVersioned, bool /*ARegisterAll*/) {
  return AVCodecBinding().Load(AError, AFolder, AVersioned);
}
