#include "LibModule.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>

#include "MyUtils.h"
#include "Platform.h"

namespace {

thread_local std::string GModuleError;

void NoteDlError() {
  const char* Text = dlerror();
  GModuleError = Text ? Text : "unknown error";
}

// Puts the remembered directory and nothing else back, whatever way the load ends.
class TCurrentDirectoryScope {
public:
  explicit TCurrentDirectoryScope(const std::string& AFolder)
      : FSaved(Platform::CurrentDirectory()) {
    Platform::SetCurrentDirectory(AFolder);
  }
  ~TCurrentDirectoryScope() {
    if (!FSaved.empty()) Platform::SetCurrentDirectory(FSaved);
  }
  TCurrentDirectoryScope(const TCurrentDirectoryScope&) = delete;
  TCurrentDirectoryScope& operator=(const TCurrentDirectoryScope&) = delete;

private:
  std::string FSaved;
};

bool AlreadyLoaded(const std::string& ASoName) {
  void* Handle = dlopen(ASoName.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!Handle) return false;
  dlclose(Handle);
  return true;
}

// Opens AFolder/AFileName after the dependencies that the folder also holds, so the
// loader matches them by name instead of fetching the system's copies. The
// dependencies' own handles are closed again: the loaded module keeps them.
TModuleHandle OpenFromFolder(const std::string& AFolder, const std::string& AFileName,
                             std::set<std::string>& AVisited) {
  const std::string Path = AFolder + AFileName;
  std::vector<TModuleHandle> Dependencies;
  for (const std::string& Needed : NeededLibraries(Path)) {
    if (!AVisited.insert(Needed).second || !FileExists(AFolder + Needed) || AlreadyLoaded(Needed))
      continue;
    if (TModuleHandle Dep = OpenFromFolder(AFolder, Needed, AVisited)) Dependencies.push_back(Dep);
  }
  dlerror();
  TModuleHandle Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle) NoteDlError();
  for (TModuleHandle Dep : Dependencies) dlclose(Dep);
  return Handle;
}

bool ReadAt(int AFd, void* ABuffer, size_t ASize, off_t AOffset) {
  return pread(AFd, ABuffer, ASize, AOffset) == static_cast<ssize_t>(ASize);
}

}  // namespace

std::string PathWithFolder(const std::string& AOldPath, const std::string& AFolder) {
  if (UpperCase(AOldPath).find(UpperCase(AFolder)) != std::string::npos) return AOldPath;
  // The former value keeps its letter case: Linux paths are case-sensitive.
  return AOldPath.empty() ? AFolder : AFolder + ":" + AOldPath;
}

TModuleHandle LoadModuleFrom(const std::string& AFolder, const std::string& AFileName) {
  if (AFolder.empty()) {
    dlerror();
    TModuleHandle Handle = dlopen(AFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!Handle) NoteDlError();
    return Handle;
  }
  TCurrentDirectoryScope InFolder(AFolder);
  const char* OldPath = std::getenv("PATH");
  const std::string NewPath = PathWithFolder(OldPath ? OldPath : "", AFolder);
  if (!OldPath || NewPath != OldPath) setenv("PATH", NewPath.c_str(), 1);

  const std::string Folder = IncludeTrailingPathDelimiter(AFolder);
  if (FileExists(Folder + AFileName)) {
    std::set<std::string> Visited{AFileName};
    return OpenFromFolder(Folder, AFileName, Visited);
  }
  dlerror();
  TModuleHandle Handle = dlopen(AFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle) NoteDlError();
  return Handle;
}

void UnloadModule(TModuleHandle AHandle) {
  if (AHandle) dlclose(AHandle);
}

void* ModuleEntry(TModuleHandle AHandle, const char* AName) {
  dlerror();
  void* Address = dlsym(AHandle, AName);
  if (!Address) NoteDlError();
  return Address;
}

std::string ModuleErrorText() { return GModuleError; }

std::string ModuleFilePath(TModuleHandle AHandle) {
  struct link_map* Map = nullptr;
  if (!AHandle || dlinfo(AHandle, RTLD_DI_LINKMAP, &Map) != 0 || !Map || !Map->l_name) return {};
  return Map->l_name;
}

std::vector<std::string> NeededLibraries(const std::string& AFileName) {
  std::vector<std::string> Result;
  const int Fd = open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return Result;
  struct TCloser {
    int Fd;
    ~TCloser() { close(Fd); }
  } Closer{Fd};

  Elf64_Ehdr Header;
  if (!ReadAt(Fd, &Header, sizeof Header, 0) || std::memcmp(Header.e_ident, ELFMAG, SELFMAG) != 0 ||
      Header.e_ident[EI_CLASS] != ELFCLASS64 || Header.e_phentsize != sizeof(Elf64_Phdr))
    return Result;

  std::vector<Elf64_Phdr> Segments(Header.e_phnum);
  if (Segments.empty() ||
      !ReadAt(Fd, Segments.data(), Segments.size() * sizeof(Elf64_Phdr), Header.e_phoff))
    return Result;

  std::vector<Elf64_Dyn> Dynamic;
  for (const Elf64_Phdr& Seg : Segments)
    if (Seg.p_type == PT_DYNAMIC) {
      Dynamic.resize(Seg.p_filesz / sizeof(Elf64_Dyn));
      if (!ReadAt(Fd, Dynamic.data(), Dynamic.size() * sizeof(Elf64_Dyn), Seg.p_offset))
        return Result;
    }

  Elf64_Addr StrTab = 0;
  Elf64_Xword StrSize = 0;
  std::vector<Elf64_Xword> NeededOffsets;
  for (const Elf64_Dyn& Entry : Dynamic) {
    if (Entry.d_tag == DT_NULL) break;
    if (Entry.d_tag == DT_NEEDED) NeededOffsets.push_back(Entry.d_un.d_val);
    if (Entry.d_tag == DT_STRTAB) StrTab = Entry.d_un.d_ptr;
    if (Entry.d_tag == DT_STRSZ) StrSize = Entry.d_un.d_val;
  }
  if (StrTab == 0 || StrSize == 0 || StrSize > (64u << 20)) return Result;

  // The string table is given by its address in memory: find the file bytes behind it.
  for (const Elf64_Phdr& Seg : Segments) {
    if (Seg.p_type != PT_LOAD || StrTab < Seg.p_vaddr || StrTab + StrSize > Seg.p_vaddr + Seg.p_filesz)
      continue;
    std::string Strings(StrSize, '\0');
    if (!ReadAt(Fd, Strings.data(), StrSize, Seg.p_offset + (StrTab - Seg.p_vaddr))) return Result;
    for (Elf64_Xword Offset : NeededOffsets)
      if (Offset < StrSize) Result.emplace_back(Strings.c_str() + Offset);
    break;
  }
  return Result;
}

// ---------------------------------------------------------------------------

TLibBinding::TLibBinding(std::string ABaseName, int AMajor, const TLibEntry* AEntries,
                         size_t AEntryCount, std::string APlainName)
    : FBaseName(std::move(ABaseName)),
      FMajor(AMajor),
      FPlainName(std::move(APlainName)),
      FEntries(AEntries),
      FEntryCount(AEntryCount) {}

std::string TLibBinding::FileName() const {
  if (FMajor < 0) return FPlainName;
  const std::string Plain = "lib" + FBaseName + ".so";
  return FVersioned ? Plain + "." + std::to_string(FMajor) : Plain;
}

std::vector<std::string> TLibBinding::EntryNames() const {
  std::vector<std::string> Names;
  for (size_t I = 0; I < FEntryCount; ++I) Names.emplace_back(FEntries[I].Name);
  return Names;
}

bool TLibBinding::ResolveEntries() {
  try {
    for (size_t I = 0; I < FEntryCount; ++I) {
      void* Address = ModuleEntry(FHandle, FEntries[I].Name);
      if (!Address) {
        FLastError = FormatText("Load function %s@%s error: %s", FEntries[I].Name,
                                FileName().c_str(), ModuleErrorText().c_str());
        return false;
      }
      FEntries[I].Assign(Address);
    }
    // This library generation registers its codecs, formats and filters itself:
    // there is no register-all step left to make.
    return true;
  } catch (const std::exception& E) {
    FLastError = E.what();
    return false;
  }
}

bool TLibBinding::Load(std::string& AError, const std::string& AFolder, bool AVersioned) {
  if (FMajor >= 0) FVersioned = AVersioned;
  bool Ok = true;
  if (!FHandle) {
    FHandle = LoadModuleFrom(AFolder, FileName());
    if (!FHandle) {
      FLastError = FormatText("Load libraray %s error: %s", FileName().c_str(),
                              ModuleErrorText().c_str());
      Ok = false;
    }
  }
  if (FHandle && !FLoaded) {
    Ok = ResolveEntries();
    FLoaded = Ok;
  }
  if (!Ok) AError = FLastError;
  return Ok;
}

void TLibBinding::Unload() {
  UnloadModule(FHandle);
  FHandle = nullptr;
  FLoaded = false;
}
