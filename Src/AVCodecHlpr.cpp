#include "AVCodecHlpr.h"

#include <iterator>

namespace av {
PEMMET_AVCODEC_ENTRIES(PEMMET_DEFINE_ENTRY)
}

namespace {
const TLibEntry Entries[] = {PEMMET_AVCODEC_ENTRIES(PEMMET_ENTRY_ROW)};
}

TLibBinding& AVCodecBinding() {
  static TLibBinding Binding("avcodec", LIBAVCODEC_VERSION_MAJOR, Entries, std::size(Entries));
  return Binding;
}

bool LoadAVCodecLib(std::string& AError, const std::string& AFolder, bool AVersioned, bool /*ARegisterAll*/) {
  return AVCodecBinding().Load(AError, AFolder, AVersioned);
}
void UnloadAVCodecLib() { AVCodecBinding().Unload(); }
bool AVCodecLibLoaded() { return AVCodecBinding().Loaded(); }
std::string AVCodecLibFileName() { return AVCodecBinding().FileName(); }
