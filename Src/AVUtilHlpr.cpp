#include "AVUtilHlpr.h"

#include <iterator>

namespace av {
PEMMET_AVUTIL_ENTRIES(PEMMET_DEFINE_ENTRY)
}

namespace {
const TLibEntry Entries[] = {PEMMET_AVUTIL_ENTRIES(PEMMET_ENTRY_ROW)};
}

TLibBinding& AVUtilBinding() {
  static TLibBinding Binding("avutil", LIBAVUTIL_VERSION_MAJOR, Entries, std::size(Entries));
  return Binding;
}

bool LoadAVUtilLib(std::string& AError, const std::string& AFolder, bool AVersioned) {
  return AVUtilBinding().Load(AError, AFolder, AVersioned);
}
void UnloadAVUtilLib() { AVUtilBinding().Unload(); }
bool AVUtilLibLoaded() { return AVUtilBinding().Loaded(); }
std::string AVUtilLibFileName() { return AVUtilBinding().FileName(); }
