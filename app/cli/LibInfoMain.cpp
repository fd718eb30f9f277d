// Loads the codec libraries the way the converter does and tells which files were
// loaded and which versions they are.
#include <cstdio>
#include <cstring>
#include <string>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace {

std::string VersionText(unsigned AVersion) {
  return FormatText("%u.%u.%u", AV_VERSION_MAJOR(AVersion), AV_VERSION_MINOR(AVersion),
                    AV_VERSION_MICRO(AVersion));
}

void PrintLibrary(const char* AName, const TLibBinding& ABinding, const std::string& AVersion) {
  std::printf("%-10s %-22s %-10s %s\n", AName, ABinding.FileName().c_str(), AVersion.c_str(),
              ModuleFilePath(ABinding.Handle()).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf("usage: %s\nLoads the codec libraries from %slib (or the system's) and lists them.\n",
                argv[0], Platform::ProgramFolder().c_str());
    return 0;
  }
  const std::string Folder = Platform::ProgramFolder() + "lib";
  if (!LoadAVLibs(Folder, true)) {
    std::fprintf(stderr, "%s\n", AVLibsError().c_str());
    return 1;
  }
  std::printf("%-10s %-22s %-10s %s\n", "library", "file name", "version", "loaded from");
  PrintLibrary("avcodec", AVCodecBinding(), VersionText(av::avcodec_version()));
  PrintLibrary("avformat", AVFormatBinding(), VersionText(av::avformat_version()));
  PrintLibrary("avutil", AVUtilBinding(), VersionText(av::avutil_version()));
  PrintLibrary("swscale", SwScaleBinding(), VersionText(av::swscale_version()));
  PrintLibrary("swresample", SwResampleBinding(), VersionText(av::swresample_version()));
  PrintLibrary("avfilter", AVFilterBinding(), VersionText(av::avfilter_version()));
  PrintLibrary("myutil", MyUtilBinding(), "-");
  const AVCodec* Mp3 = av::avcodec_find_encoder_by_name("libmp3lame");
  std::printf("MP3 encoder libmp3lame: %s\n", Mp3 ? "available" : "missing");
  return Mp3 ? 0 : 1;
}
