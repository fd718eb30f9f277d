#include "SwResampleHlpr.h"

#include <iterator>

namespace av {
PEMMET_SWRESAMPLE_ENTRIES(PEMMET_DEFINE_ENTRY)
}

namespace {
const TLibEntry Entries[] = {PEMMET_SWRESAMPLE_ENTRIES(PEMMET_ENTRY_ROW)};
}

TLibBinding& SwResampleBinding() {
  static TLibBinding Binding("swresample", LIBSWRESAMPLE_VERSION_MAJOR, Entries, std::size(Entries));
  return Binding;
}

bool LoadSwResampleLib(std::string& AError, const std::string& AFolder, bool AVersioned) {
  return SwResampleBinding().Load(AError, AFolder, AVersioned);
}
void UnloadSwResampleLib() { SwResampleBinding().Unload(); }
bool SwResampleLibLoaded() { return SwResampleBinding().Loaded(); }
std::string SwResampleLibFileName() { return SwResampleBinding().FileName(); }
