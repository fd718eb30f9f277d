#include "MyUtilHlpr.h"

#include <gnu/lib-names.h>

#include <iterator>

namespace av {
int (*my_vsprintf)(char*, size_t, const char*, va_list) = nullptr;
int (*my_fprintf)(FILE*, const char*, ...) = nullptr;
int (*my_snprintf)(char*, size_t, const char*, ...) = nullptr;
FILE* (*my_fopen)(const char*, const char*) = nullptr;
long (*my_ftell)(FILE*) = nullptr;
size_t (*my_fread)(void*, size_t, size_t, FILE*) = nullptr;
size_t (*my_fwrite)(const void*, size_t, size_t, FILE*) = nullptr;
int (*my_fseek)(FILE*, long, int) = nullptr;
int (*my_fclose)(FILE*) = nullptr;
char* (*my_strtok)(char*, const char*) = nullptr;
long (*my_strtol)(const char*, char**, int) = nullptr;
double (*my_strtod)(const char*, char**) = nullptr;
}  // namespace av

namespace {

char* (*StrtokR)(char*, const char*, char**) = nullptr;

// strtok's own position is shared by every thread; engines split options on
// several threads at once, so each thread keeps its own.
char* ThreadStrtok(char* AText, const char* ADelimiters) {
  thread_local char* Position = nullptr;
  return StrtokR(AText, ADelimiters, &Position);
}

template <class F>
void Store(F& ASlot, void* AAddress) {
  ASlot = reinterpret_cast<F>(AAddress);
}

const TLibEntry Entries[] = {
    {"vsnprintf", [](void* A) { Store(av::my_vsprintf, A); }},
    {"fprintf", [](void* A) { Store(av::my_fprintf, A); }},
    {"snprintf", [](void* A) { Store(av::my_snprintf, A); }},
    {"fopen", [](void* A) { Store(av::my_fopen, A); }},
    {"ftell", [](void* A) { Store(av::my_ftell, A); }},
    {"fread", [](void* A) { Store(av::my_fread, A); }},
    {"fwrite", [](void* A) { Store(av::my_fwrite, A); }},
    {"fseek", [](void* A) { Store(av::my_fseek, A); }},
    {"fclose", [](void* A) { Store(av::my_fclose, A); }},
    {"strtok_r",
     [](void* A) {
       Store(StrtokR, A);
       av::my_strtok = &ThreadStrtok;
     }},
    {"strtol", [](void* A) { Store(av::my_strtol, A); }},
    {"strtod", [](void* A) { Store(av::my_strtod, A); }},
};

}  // namespace

TLibBinding& MyUtilBinding() {
  static TLibBinding Binding("c", -1, Entries, std::size(Entries), LIBC_SO);
  return Binding;
}

bool LoadMyUtilLib(std::string& AError, const std::string& AFolder) {
  return MyUtilBinding().Load(AError, AFolder, false);
}
void UnloadMyUtilLib() { MyUtilBinding().Unload(); }
std::string MyUtilLibFileName() { return MyUtilBinding().FileName(); }
