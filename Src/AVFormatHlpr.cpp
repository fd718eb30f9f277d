#include "AVFormatHlpr.h"

#include <iterator>

namespace av {
PEMMET_AVFORMAT_ENTRIES(PEMMET_DEFINE_ENTRY)
}

namespace {
const TLibEntry Entries[] = {PEMMET_AVFORMAT_ENTRIES(PEMMET_ENTRY_ROW)};
}

TLibBinding& AVFormatBinding() {
  static TLibBinding Binding("avformat", LIBAVFORMAT_VERSION_MAJOR, Entries, std::size(Entries));
  return Binding;
}

bool LoadAVFormatLib(std::string& AError, const std::string& AFolder, bool AVersioned, bool /*ARegisterAll*/) {
  return AVFormatBinding().Load(AError, AFolder, AVersioned);
}
void UnloadAVFormatLib() { AVFormatBinding().Unload(); }
bool AVFormatLibLoaded() { return AVFormatBinding().Loaded(); }
std::string AVFormatLibFileName() { return AVFormatBinding().FileName(); }
