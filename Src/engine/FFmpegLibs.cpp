// The engine unit's process-wide part: the codec lock, the library log level, the
// floating-point environment and loading every library at once.
#include "FFmpeg.h"

Platform::TReentrantLock CodecLock;
std::atomic<int> GlobalLogLevel{1};

int LibraryLogLevel(int AEngineLevel) {
  if (AEngineLevel < 0) return AV_LOG_QUIET;
  switch (AEngineLevel) {
    case 0: return AV_LOG_ERROR;
    case 1: return AV_LOG_INFO;
    case 2: return AV_LOG_DEBUG;
    default: return AV_LOG_TRACE;
  }
}

int EngineLogLevel(int ALibraryLevel) {
  if (ALibraryLevel < AV_LOG_PANIC) return -1;
  if (ALibraryLevel <= AV_LOG_ERROR) return 0;
  if (ALibraryLevel <= AV_LOG_INFO) return 1;
  if (ALibraryLevel <= AV_LOG_DEBUG) return 2;
  return 3;
}

namespace {

bool GAllLoaded = false;
std::string GLoadError;

// The libraries are always called with every floating-point exception masked.
struct TEngineUnit {
  TEngineUnit() { Platform::MaskFloatingPointExceptions(); }
  ~TEngineUnit() {
    // A conversion still inside a codec call finishes it before the process goes on.
    CodecLock.lock();
    CodecLock.unlock();
    Platform::RestoreFloatingPointEnvironment();
    GLoadError.clear();
  }
} GEngineUnit;

}  // namespace

bool LoadAVLibs(const std::string& AFolder, bool AVersioned) {
  if (GAllLoaded) return true;
  GLoadError.clear();
  GAllLoaded = LoadAVCodecLib(GLoadError, AFolder, AVersioned, true) &&
               LoadAVFilterLib(GLoadError, AFolder, AVersioned, true) &&
               LoadAVFormatLib(GLoadError, AFolder, AVersioned, true) &&
               LoadAVUtilLib(GLoadError, AFolder, AVersioned) &&
               LoadSwScaleLib(GLoadError, AFolder, AVersioned) &&
               LoadSwResampleLib(GLoadError, AFolder, AVersioned) &&
               LoadMyUtilLib(GLoadError, AFolder);
  if (GAllLoaded)
    GlobalLogLevel = EngineLogLevel(av::av_log_get_level());
  else
    UnloadAVLibs();
  return GAllLoaded;
}

void UnloadAVLibs() {
  GAllLoaded = false;
  UnloadAVCodecLib();
  UnloadAVFilterLib();
  UnloadAVFormatLib();
  UnloadAVUtilLib();
  UnloadSwScaleLib();
  UnloadSwResampleLib();
  UnloadMyUtilLib();
}

bool AVLibsLoaded() { return GAllLoaded; }

std::string AVLibsError() { return GLoadError; }
