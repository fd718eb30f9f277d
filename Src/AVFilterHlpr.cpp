#include "AVFilterHlpr.h"

#include <iterator>

namespace av {
PEMMET_AVFILTER_ENTRIES(PEMMET_DEFINE_ENTRY)
}

namespace {
const TLibEntry Entries[] = {PEMMET_AVFILTER_ENTRIES(PEMMET_ENTRY_ROW)};
}

TLibBinding& AVFilterBinding() {
  static TLibBinding Binding("avfilter", LIBAVFILTER_VERSION_MAJOR, Entries, std::size(Entries));
  return Binding;
}

bool LoadAVFilterLib(std::string& AError, const std::string& AFolder, bool AVersioned, bool /*ARegisterAll*/) {
  return AVFilterBinding().Load(AError, AFolder, AVersioned);
}
void UnloadAVFilterLib() { AVFilterBinding().Unload(); }
bool AVFilterLibLoaded() { return AVFilterBinding().Loaded(); }
std::string AVFilterLibFileName() { return AVFilterBinding().FileName(); }
