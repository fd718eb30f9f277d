// Run-time loading of shared libraries and the pattern every library binding follows:
// one process-wide record per library with its module handle, its file names, the
// last error and a table of entries resolved in order, each one mandatory.
#pragma once

#include <string>
#include <vector>

using TModuleHandle = void*;

// Loads AFileName. With an empty folder the system's ordinary search is used. With a
// folder, it is made the current directory for the duration of the call (restored
// on every way out), it is put in front of "PATH" unless PATH already names it, and
// the file is taken from the folder when it is there (its dependencies found in the
// same folder are loaded from it first, so a private set is used whole), otherwise
// through the ordinary search. Returns null on failure; ModuleErrorText tells why.
TModuleHandle LoadModuleFrom(const std::string& AFolder, const std::string& AFileName);
void UnloadModule(TModuleHandle AHandle);
// Looks up an entry; null when the module lacks it (ModuleErrorText tells why).
void* ModuleEntry(TModuleHandle AHandle, const char* AName);
// The system's message for the calling thread's last failed load or look-up.
std::string ModuleErrorText();
// Full path of the file a loaded module came from.
std::string ModuleFilePath(TModuleHandle AHandle);

// Names of the libraries an ELF shared object needs (its DT_NEEDED entries), in the
// order the file lists them; empty when the file cannot be read as ELF.
std::vector<std::string> NeededLibraries(const std::string& AFileName);

// The "PATH" rule of LoadModuleFrom: the new value, or AOldPath itself when the
// folder already occurs in it (compared without regard to letter case).
std::string PathWithFolder(const std::string& AOldPath, const std::string& AFolder);

// One entry of a binding's table: its exported name and where its address goes.
struct TLibEntry {
  const char* Name;
  void (*Assign)(void* AAddress);
};

class TLibBinding {
public:
  // ABaseName "avcodec" gives "libavcodec.so.<AMajor>" (versioned) or "libavcodec.so";
  // AMajor < 0 means the library has one name only, APlainName.
  TLibBinding(std::string ABaseName, int AMajor, const TLibEntry* AEntries, size_t AEntryCount,
              std::string APlainName = std::string());

  // Loads the module if it is not loaded and resolves the entries if they are not
  // resolved; a library already bound is left as it is. On false, AError receives
  // the library's last error.
  bool Load(std::string& AError, const std::string& AFolder, bool AVersioned);
  void Unload();

  bool Loaded() const { return FLoaded; }
  TModuleHandle Handle() const { return FHandle; }
  std::string FileName() const;
  const std::string& LastError() const { return FLastError; }
  void ClearLastError() { FLastError.clear(); }

  // Names of the entries in resolve order (for diagnostics and tests).
  std::vector<std::string> EntryNames() const;

private:
  bool ResolveEntries();

  std::string FBaseName;
  int FMajor;
  std::string FPlainName;
  const TLibEntry* FEntries;
  size_t FEntryCount;
  TModuleHandle FHandle = nullptr;
  bool FLoaded = false;
  bool FVersioned = false;
  std::string FLastError;
};

// Declares an entry pointer typed with the header's own prototype.
#define PEMMET_DECLARE_ENTRY(name) extern decltype(&::name) name;
// Defines it (null until bound).
#define PEMMET_DEFINE_ENTRY(name) decltype(&::name) name = nullptr;
// A table row that stores a resolved address into av::name.
#define PEMMET_ENTRY_ROW(name) \
  {#name, [](void* AAddress) { av::name = reinterpret_cast<decltype(av::name)>(AAddress); }},

// The process-wide binding of one library and its operations: <Prefix>Binding,
// Unload<Prefix>Lib, <Prefix>LibLoaded and <Prefix>LibFileName. Each unit adds its
// own Load<Prefix>Lib, whose arguments differ from library to library.
#define PEMMET_DECLARE_BINDING(Prefix) \
  TLibBinding& Prefix##Binding();      \
  void Unload##Prefix##Lib();          \
  bool Prefix##LibLoaded();            \
  std::string Prefix##LibFileName();

#define PEMMET_DEFINE_BINDING(Prefix, BaseName, Major, ENTRIES)                                   \
  namespace av {                                                                                  \
  ENTRIES(PEMMET_DEFINE_ENTRY)                                                                    \
  }                                                                                               \
  TLibBinding& Prefix##Binding() {                                                                \
    static const TLibEntry Entries[] = {ENTRIES(PEMMET_ENTRY_ROW)};                               \
    static TLibBinding Binding(BaseName, Major, Entries, sizeof Entries / sizeof Entries[0]);     \
    return Binding;                                                                               \
  }                                                                                               \
  void Unload##Prefix##Lib() { Prefix##Binding().Unload(); }                                      \
  bool Prefix##LibLoaded() { return Prefix##Binding().Loaded(); }                                 \
  std::string Prefix##LibFileName() { return Prefix##Binding().FileName(); }
