#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FFmpeg.h"
#include "MyUtils.h"
#include "Platform.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string Fixtures = PEMMET_TEST_FIXTURES;
const std::string FakeSwScaleFolder = Fixtures + "/fakeswscale";

struct TLib {
  const char* Name;
  TLibBinding& (*Binding)();
  const char* Versioned;
  const char* Plain;
};

const TLib Libs[] = {
    {"avcodec", AVCodecBinding, "libavcodec.so.59", "libavcodec.so"},
    {"avformat", AVFormatBinding, "libavformat.so.59", "libavformat.so"},
    {"avutil", AVUtilBinding, "libavutil.so.57", "libavutil.so"},
    {"swscale", SwScaleBinding, "libswscale.so.6", "libswscale.so"},
    {"swresample", SwResampleBinding, "libswresample.so.4", "libswresample.so"},
    {"avfilter", AVFilterBinding, "libavfilter.so.8", "libavfilter.so"},
    {"myutil", MyUtilBinding, "libc.so.6", "libc.so.6"},
};

std::string Canonical(const std::string& APath) { return fs::canonical(APath).string(); }

bool StartsWith(const std::string& AText, const std::string& APrefix) {
  return AText.compare(0, APrefix.size(), APrefix) == 0;
}

// Restores PATH after a test that lets the loader edit it.
class TPathGuard {
public:
  TPathGuard() : FSaved(std::getenv("PATH") ? std::getenv("PATH") : "") {}
  ~TPathGuard() { setenv("PATH", FSaved.c_str(), 1); }
  const std::string& Saved() const { return FSaved; }

private:
  std::string FSaved;
};

}  // namespace

TEST(LibBinding, VersionedAndPlainFileNames) {
  for (bool Versioned : {true, false}) {
    ASSERT_TRUE(LoadAVLibs("", Versioned)) << AVLibsError();
    for (const TLib& L : Libs) {
      const std::string Expected = Versioned ? L.Versioned : L.Plain;
      EXPECT_EQ(L.Binding().FileName(), Expected) << L.Name;
      EXPECT_TRUE(L.Binding().Loaded()) << L.Name;
      // The module is the one the system finds under that name (a library that came in
      // as a dependency first keeps the versioned name it was loaded by).
      TModuleHandle ByName = dlopen(Expected.c_str(), RTLD_NOW | RTLD_NOLOAD);
      EXPECT_EQ(ByName, L.Binding().Handle()) << L.Name;
      if (ByName) dlclose(ByName);
    }
    UnloadAVLibs();
    for (const TLib& L : Libs) {
      EXPECT_FALSE(L.Binding().Loaded()) << L.Name;
      EXPECT_EQ(L.Binding().Handle(), nullptr) << L.Name;
    }
  }
  EXPECT_EQ(AVCodecLibFileName(), "libavcodec.so");
  EXPECT_EQ(MyUtilLibFileName(), "libc.so.6");
}

TEST(LibBinding, FolderWithoutTheLibrariesFallsBackToTheSystem) {
  TPathGuard Path;
  TTempDir Dir;
  const std::string Before = Platform::CurrentDirectory();
  ASSERT_TRUE(LoadAVLibs(Dir.Path(), true)) << AVLibsError();
  EXPECT_EQ(Platform::CurrentDirectory(), Before);
  EXPECT_EQ(std::string(std::getenv("PATH")), Dir.Path() + ":" + Path.Saved());
  for (const TLib& L : Libs)
    EXPECT_FALSE(StartsWith(ModuleFilePath(L.Binding().Handle()), Dir.Path())) << L.Name;
  EXPECT_TRUE(AVLibsLoaded());
  EXPECT_EQ(AVLibsError(), "");
}

TEST(LibBinding, PathRule) {
  struct TCase {
    const char *OldPath, *Folder, *NewPath;
  } Cases[] = {
      {"/usr/bin:/bin", "/opt/pemmet/lib", "/opt/pemmet/lib:/usr/bin:/bin"},
      {"/usr/bin:/OPT/Pemmet/LIB:/bin", "/opt/pemmet/lib", "/usr/bin:/OPT/Pemmet/LIB:/bin"},
      {"/usr/bin:/opt/pemmet/lib2", "/opt/pemmet/lib", "/usr/bin:/opt/pemmet/lib2"},  // substring test
      {"/Usr/Bin", "/opt/x", "/opt/x:/Usr/Bin"},  // the former value keeps its case
      {"", "/opt/x", "/opt/x"},
  };
  for (const TCase& C : Cases) EXPECT_EQ(PathWithFolder(C.OldPath, C.Folder), C.NewPath) << C.OldPath;
}

TEST(LibBinding, LoadsWithTheFolderAsCurrentDirectoryAndRestoresIt) {
  TPathGuard Path;
  const std::string Folder = Fixtures + "/cwdprobe";
  const std::string Before = Platform::CurrentDirectory();

  TModuleHandle Probe = LoadModuleFrom(Folder, "libpemmetcwdprobe.so");
  ASSERT_NE(Probe, nullptr) << ModuleErrorText();
  const char* CwdAtLoad = static_cast<const char*>(dlsym(Probe, "PemmetCwdAtLoad"));
  ASSERT_NE(CwdAtLoad, nullptr);
  EXPECT_EQ(std::string(CwdAtLoad), Canonical(Folder));
  EXPECT_EQ(Platform::CurrentDirectory(), Before);
  EXPECT_TRUE(StartsWith(std::getenv("PATH"), Folder + ":"));

  // A second folder already in PATH leaves it alone, in any letter case.
  setenv("PATH", (UpperCase(Folder) + ":/bin").c_str(), 1);
  EXPECT_NE(LoadModuleFrom(Folder, "libpemmetcwdprobe.so"), nullptr);
  EXPECT_EQ(std::string(std::getenv("PATH")), UpperCase(Folder) + ":/bin");

  EXPECT_EQ(LoadModuleFrom(Folder, "libnothing-here.so"), nullptr);
  EXPECT_NE(ModuleErrorText(), "");
  EXPECT_EQ(Platform::CurrentDirectory(), Before);
  UnloadModule(Probe);
  UnloadModule(Probe);
}

TEST(LibBinding, MissingEntryNamesTheFirstOneOnlyAndIsRetried) {
  std::string Error;
  EXPECT_FALSE(LoadSwScaleLib(Error, FakeSwScaleFolder, true));
  const std::string Path = FakeSwScaleFolder + "/libswscale.so.6";
  EXPECT_EQ(Error, "Load function sws_getContext@libswscale.so.6 error: " + Path +
                       ": undefined symbol: sws_getContext");
  EXPECT_EQ(Error.find("sws_freeContext"), std::string::npos);
  EXPECT_FALSE(SwScaleLibLoaded());
  TModuleHandle Module = SwScaleBinding().Handle();
  EXPECT_NE(Module, nullptr) << "the module stays loaded";
  EXPECT_NE(av::swscale_version, nullptr) << "entries resolved before the failure keep their values";
  EXPECT_EQ(SwScaleBinding().LastError(), Error);

  std::string Again;
  EXPECT_FALSE(LoadSwScaleLib(Again, "", true)) << "the same module is bound again";
  EXPECT_EQ(Again, Error);
  EXPECT_EQ(SwScaleBinding().Handle(), Module);
}

TEST(LibBinding, OneFailureUnloadsEveryLibraryWithThatLibrarysText) {
  EXPECT_FALSE(LoadAVLibs(FakeSwScaleFolder, true));
  EXPECT_FALSE(AVLibsLoaded());
  EXPECT_TRUE(StartsWith(AVLibsError(), "Load function sws_getContext@libswscale.so.6 error: "))
      << AVLibsError();
  for (const TLib& L : Libs) {
    EXPECT_FALSE(L.Binding().Loaded()) << L.Name;
    EXPECT_EQ(L.Binding().Handle(), nullptr) << L.Name;
  }
}

TEST(LibBinding, UnloadableFileGivesTheLoadMessageAndIsLoadedAgainLater) {
  TPathGuard Path;
  TTempDir Dir;
  WriteTextFile(Dir.File("libavutil.so.57"), "this is not a shared object");
  std::string Error;
  EXPECT_FALSE(LoadAVUtilLib(Error, Dir.Path(), true));
  EXPECT_TRUE(StartsWith(Error, "Load libraray libavutil.so.57 error: " + Dir.File("libavutil.so.57")))
      << Error;
  EXPECT_EQ(AVUtilBinding().Handle(), nullptr);
  EXPECT_FALSE(AVUtilLibLoaded());

  fs::remove(Dir.File("libavutil.so.57"));
  EXPECT_TRUE(LoadAVUtilLib(Error, Dir.Path(), true)) << Error;
  EXPECT_TRUE(AVUtilLibLoaded());
}

TEST(LibBinding, SecondLoadTouchesNothing) {
  ASSERT_TRUE(LoadAVLibs("", true)) << AVLibsError();
  std::vector<TModuleHandle> Handles;
  for (const TLib& L : Libs) Handles.push_back(L.Binding().Handle());

  EXPECT_TRUE(LoadAVLibs("/nonexistent/folder", false));
  for (size_t I = 0; I < std::size(Libs); ++I) {
    EXPECT_EQ(Libs[I].Binding().Handle(), Handles[I]) << Libs[I].Name;
    EXPECT_EQ(Libs[I].Binding().FileName(), Libs[I].Versioned) << Libs[I].Name;
  }
}

TEST(LibBinding, BoundLibraryIsKeptButTakesTheNewNameFlag) {
  std::string Error;
  ASSERT_TRUE(LoadAVUtilLib(Error, "", true)) << Error;
  TModuleHandle Module = AVUtilBinding().Handle();
  EXPECT_TRUE(LoadAVUtilLib(Error, "/nonexistent/folder", false));
  EXPECT_EQ(AVUtilBinding().Handle(), Module);
  EXPECT_EQ(AVUtilLibFileName(), "libavutil.so");

  UnloadAVUtilLib();
  EXPECT_FALSE(AVUtilLibLoaded());
  EXPECT_EQ(AVUtilBinding().Handle(), nullptr);
  EXPECT_NE(av::avutil_version, nullptr) << "unloading leaves the entry pointers";
}

TEST(LibBinding, PrivateSetInTheFolderIsUsedWhole) {
  TPathGuard Path;
  TTempDir Dir;
  // A private copy of the system's libraries under their versioned names.
  ASSERT_TRUE(LoadAVLibs("", true)) << AVLibsError();
  std::vector<std::string> Names;
  for (const TLib& L : Libs)
    if (std::string(L.Name) != "myutil") Names.push_back(L.Versioned);
  for (const std::string& Dep : NeededLibraries(ModuleFilePath(AVFilterBinding().Handle())))
    if (StartsWith(Dep, "libpostproc")) Names.push_back(Dep);
  std::vector<std::string> Sources;
  for (const std::string& Name : Names) {
    TModuleHandle H = dlopen(Name.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(H, nullptr) << Name;
    Sources.push_back(Canonical(ModuleFilePath(H)));
    dlclose(H);
  }
  UnloadAVLibs();
  for (size_t I = 0; I < Names.size(); ++I) fs::copy_file(Sources[I], Dir.File(Names[I]));

  // This process must not have the system's copies any more for the check to mean something.
  for (const std::string& Name : Names) {
    TModuleHandle H = dlopen(Name.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (H) {
      dlclose(H);
      GTEST_SKIP() << Name << " stays loaded after unloading";
    }
  }

  ASSERT_TRUE(LoadAVLibs(Dir.Path(), true)) << AVLibsError();
  for (const TLib& L : Libs) {
    if (std::string(L.Name) == "myutil") continue;
    EXPECT_TRUE(StartsWith(ModuleFilePath(L.Binding().Handle()), Dir.Path()))
        << L.Name << " came from " << ModuleFilePath(L.Binding().Handle());
  }
  std::ifstream Maps("/proc/self/maps");
  for (std::string Line; std::getline(Maps, Line);)
    for (const std::string& Source : Sources)
      EXPECT_EQ(Line.find(Source), std::string::npos) << "system copy mapped: " << Line;
}

TEST(LibBinding, NeededLibrariesReadsTheDependencyList) {
  ASSERT_TRUE(LoadAVLibs("", true)) << AVLibsError();
  const std::vector<std::string> Needed = NeededLibraries(ModuleFilePath(AVFormatBinding().Handle()));
  EXPECT_NE(std::find(Needed.begin(), Needed.end(), "libavcodec.so.59"), Needed.end());
  EXPECT_NE(std::find(Needed.begin(), Needed.end(), "libavutil.so.57"), Needed.end());
  TTempDir Dir;
  WriteTextFile(Dir.File("junk.so"), "not elf");
  EXPECT_TRUE(NeededLibraries(Dir.File("junk.so")).empty());
  EXPECT_TRUE(NeededLibraries(Dir.File("missing.so")).empty());
}
