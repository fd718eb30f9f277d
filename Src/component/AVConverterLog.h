// The codec libraries' log, turned into whole lines for the converter components.
// The libraries report through one process-wide function, often one line in several
// calls; the log list keeps each thread's unfinished line until its line feed comes.
// Every component that exists hears every line, attributed to its task whose thread
// logged it (or to none).
#pragma once

#include <sys/types.h>

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

// One thread's unfinished line. A ThreadId of 0 marks a free head.
struct TLogItem {
  pid_t ThreadId = 0;
  std::string Pending;
  std::unique_ptr<TLogItem> Next;
};

// The per-thread store: one item inline as the head, more chained behind it.
class TLogList {
public:
  TLogList() = default;
  ~TLogList() { Clear(); }
  TLogList(const TLogList&) = delete;
  TLogList& operator=(const TLogList&) = delete;

  // The item of thread AId; a free head is taken first, a new item goes right
  // behind the head.
  TLogItem& FindOrAdd(pid_t AId);
  void Clear();

private:
  TLogItem FHead;
};

// What the library log needs of a component.
class TLibraryLogTarget {
public:
  virtual ~TLibraryLogTarget() = default;
  // Index of the component's task that runs on thread AId, or -1.
  virtual int32_t TaskIndexOfThread(pid_t AId) = 0;
  // Delivers one whole library line (engine log scale) for task AIndex (-1: none).
  virtual void RelayLibraryLine(int32_t AIndex, int ALevel, const std::string& ALine) = 0;
};

// The instance list: a component registers when it is created and unregisters when
// it goes. Unregistering waits for lines that other threads are delivering to it.
void RegisterLogTarget(TLibraryLogTarget* ATarget);
void UnregisterLogTarget(TLibraryLogTarget* ATarget);

// Forgets every unfinished line; safe while other threads log.
void ClearLogList();

// The function the components install with av_log_set_callback.
extern "C" void ConverterLogCallback(void* AContext, int ALevel, const char* AFormat, va_list AArgs);

// Size of the formatting buffer; a longer message is cut and ends its line.
constexpr int LOG_BUFFER_SIZE = 2048;
