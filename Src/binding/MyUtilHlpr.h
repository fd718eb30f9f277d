// Binding of the small C-runtime helper set the engine uses for report texts,
// statistics files and token splitting. It is bound to the process's own C library,
// so files opened with my_fopen are written and closed by the same runtime.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "LibModule.h"

namespace av {
// Formatting is always bounded: my_vsprintf takes the buffer size, like vsnprintf.
extern int (*my_vsprintf)(char*, size_t, const char*, va_list);
extern int (*my_fprintf)(FILE*, const char*, ...);
extern int (*my_snprintf)(char*, size_t, const char*, ...);
extern FILE* (*my_fopen)(const char*, const char*);
extern long (*my_ftell)(FILE*);
extern size_t (*my_fread)(void*, size_t, size_t, FILE*);
extern size_t (*my_fwrite)(const void*, size_t, size_t, FILE*);
extern int (*my_fseek)(FILE*, long, int);
extern int (*my_fclose)(FILE*);
// Keeps its position between calls like strtok, one position per thread.
extern char* (*my_strtok)(char*, const char*);
extern long (*my_strtol)(const char*, char**, int);
extern double (*my_strtod)(const char*, char**);
}  // namespace av

bool LoadMyUtilLib(std::string& AError, const std::string& AFolder);
void UnloadMyUtilLib();
std::string MyUtilLibFileName();
TLibBinding& MyUtilBinding();
