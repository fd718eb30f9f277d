#include "SwScaleHlpr.h"

#include <iterator>

namespace av {
PEMMET_SWSCALE_ENTRIES(PEMMET_DEFINE_ENTRY)
}

namespace {
const TLibEntry Entries[] = {PEMMET_SWSCALE_ENTRIES(PEMMET_ENTRY_ROW)};
}

TLibBinding& SwScaleBinding() {
  static TLibBinding Binding("swscale", LIBSWSCALE_VERSION_MAJOR, Entries, std::size(Entries));
  return Binding;
}

bool LoadSwScaleLib(std::string& AError, const std::string& AFolder, bool AVersioned) {
  return SwScaleBinding().Load(AError, AFolder, AVersioned);
}
void UnloadSwScaleLib() { SwScaleBinding().Unload(); }
bool SwScaleLibLoaded() { return SwScaleBinding().Loaded(); }
std::string SwScaleLibFileName() { return SwScaleBinding().FileName(); }
