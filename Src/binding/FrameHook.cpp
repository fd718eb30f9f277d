#include "FrameHook.h"

#include <map>

#include "AVUtilHlpr.h"
#include "LibModule.h"
#include "MyUtilHlpr.h"

namespace {

// Modules stay loaded for the life of the process; naming one again reuses it.
std::map<std::string, TModuleHandle>& ModuleCache() {
  static std::map<std::string, TModuleHandle> Cache;
  return Cache;
}

TModuleHandle LoadHookModule(const std::string& AFileName) {
  auto& Cache = ModuleCache();
  if (auto Found = Cache.find(AFileName); Found != Cache.end()) return Found->second;
  const size_t Slash = AFileName.rfind('/');
  const std::string Folder = Slash == std::string::npos ? std::string() : AFileName.substr(0, Slash);
  // With a folder, LoadModuleFrom makes it current for the load only.
  TModuleHandle Handle =
      Folder.empty() ? LoadModuleFrom("", AFileName) : LoadModuleFrom(Folder, AFileName.substr(Slash + 1));
  if (Handle) Cache[AFileName] = Handle;
  return Handle;
}

}  // namespace

int AddFrameHook(TFrameHookList& AList, int AArgc, char* AArgv[], std::shared_ptr<std::vector<char>> AArguments) {
  if (AArgc < 1 || !AArgv || !AArgv[0]) return -2;
  TModuleHandle Module = LoadHookModule(AArgv[0]);
  if (!Module) {
    av::av_log(nullptr, AV_LOG_ERROR, "%s\n", ModuleErrorText().c_str());
    return -1;
  }
  TFrameHookRecord Record;
  Record.Configure = reinterpret_cast<TFrameHookConfigureFn>(ModuleEntry(Module, "Configure"));
  Record.Process = reinterpret_cast<TFrameHookProcessFn>(ModuleEntry(Module, "Process"));
  Record.Release = reinterpret_cast<TFrameHookReleaseFn>(ModuleEntry(Module, "Release"));
  Record.Arguments = std::move(AArguments);
  if (!Record.Process) {
    av::av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", AArgv[0]);
    return -2;
  }
  if (!Record.Configure && AArgc > 1) {
    av::av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", AArgv[0]);
    return -2;
  }
  if (Record.Configure && Record.Configure(&Record.Context, AArgc, AArgv) != 0) {
    av::av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", AArgv[0]);
    return -22;
  }
  AList.push_back(std::move(Record));
  return 0;
}

int AddFrameHookFromText(TFrameHookList& AList, const std::string& AText) {
  auto Arguments = std::make_shared<std::vector<char>>(AText.begin(), AText.end());
  Arguments->push_back('\0');
  const char* Separator = AText.find('|') != std::string::npos ? "|" : " ";
  char* Argv[64] = {};
  int Argc = 0;
  for (char* Token = av::my_strtok(Arguments->data(), Separator); Token && Argc < 63;
       Token = av::my_strtok(nullptr, Separator))
    Argv[Argc++] = Token;
  return AddFrameHook(AList, Argc, Argv, std::move(Arguments));
}

void ProcessFrameHooks(TFrameHookList& AList, THookPicture* APicture, AVPixelFormat APixFmt, int AWidth,
                       int AHeight, int64_t APts) {
  for (TFrameHookRecord& Record : AList) Record.Process(Record.Context, APicture, APixFmt, AWidth, AHeight, APts);
}

void ReleaseFrameHooks(TFrameHookList& AList) {
  for (TFrameHookRecord& Record : AList)
    if (Record.Release) Record.Release(Record.Context);
  AList.clear();
}
