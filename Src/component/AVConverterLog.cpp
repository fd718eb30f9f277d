// Library log lines: assembled per thread under the instance-list lock, delivered to
// the components after that lock is released. A component relays under its own lock,
// and a termination handler that holds that lock may log; delivering outside the
// instance-list lock is what keeps the two from waiting on each other.
#include "AVConverterLog.h"

#include <algorithm>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "AVUtilHlpr.h"
#include "FFmpeg.h"
#include "MyUtilHlpr.h"
#include "Platform.h"

TLogItem& TLogList::FindOrAdd(pid_t AId) {
  if (FHead.ThreadId == 0 || FHead.ThreadId == AId) {
    FHead.ThreadId = AId;
    return FHead;
  }
  for (TLogItem* Item = FHead.Next.get(); Item; Item = Item->Next.get())
    if (Item->ThreadId == AId) return *Item;
  auto Item = std::make_unique<TLogItem>();
  Item->ThreadId = AId;
  Item->Next = std::move(FHead.Next);
  FHead.Next = std::move(Item);
  return *FHead.Next;
}

void TLogList::Clear() {
  FHead.ThreadId = 0;
  FHead.Pending.clear();
  // Unlink iteratively: a long chain must not recurse through the destructors.
  std::unique_ptr<TLogItem> Item = std::move(FHead.Next);
  while (Item) Item = std::move(Item->Next);
}

namespace {

// Keeps a component reachable for lines in delivery while it is being destroyed:
// Detach stops new deliveries and waits for those of other threads.
class TTargetLink {
public:
  explicit TTargetLink(TLibraryLogTarget* ATarget) : FTarget(ATarget) {}

  TLibraryLogTarget* Target() const { return FTarget; }

  TLibraryLogTarget* Enter() {
    std::lock_guard<std::mutex> Guard(FMutex);
    if (!FTarget) return nullptr;
    FInFlight.push_back(Platform::CurrentThreadID());
    return FTarget;
  }

  void Leave() {
    std::lock_guard<std::mutex> Guard(FMutex);
    const pid_t Self = Platform::CurrentThreadID();
    for (auto It = FInFlight.begin(); It != FInFlight.end(); ++It)
      if (*It == Self) {
        FInFlight.erase(It);
        break;
      }
    FChanged.notify_all();
  }

  // A delivery on the detaching thread itself (a handler destroying its component)
  // is not waited for: it would wait for itself.
  void Detach() {
    std::unique_lock<std::mutex> Guard(FMutex);
    FTarget = nullptr;
    const pid_t Self = Platform::CurrentThreadID();
    FChanged.wait(Guard, [&] {
      for (pid_t Id : FInFlight)
        if (Id != Self) return false;
      return true;
    });
  }

private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  TLibraryLogTarget* FTarget;
  std::vector<pid_t> FInFlight;
};

// The process-wide instance list and the log list it guards.
struct TLogRegistry {
  std::recursive_mutex Lock;
  std::vector<std::shared_ptr<TTargetLink>> Targets;
  TLogList Lines;
};

TLogRegistry& Registry() {
  static TLogRegistry GRegistry;
  return GRegistry;
}

struct TDelivery {
  std::shared_ptr<TTargetLink> Link;
  int32_t TaskIndex;
  std::string Line;
};

// Writes "[name @ ADDRESS]" for a library object whose first field is its class.
int WriteContextPrefix(char* ABuffer, size_t ASize, void* AContext) {
  const AVClass* Class = *static_cast<const AVClass* const*>(AContext);
  if (!Class) return 0;
  const char* Name = Class->item_name ? Class->item_name(AContext) : nullptr;
  const int Written = std::snprintf(ABuffer, ASize, "[%s @ %0*" PRIXPTR "]", Name ? Name : "",
                                    static_cast<int>(2 * sizeof(void*)), reinterpret_cast<uintptr_t>(Class));
  return Written < 0 ? 0 : std::min<int>(Written, static_cast<int>(ASize) - 1);
}

// The thread's pending text followed by the new message, in a bounded buffer. A
// message cut by the bound ends its line: keeping the cut text pending would glue
// the next, unrelated message onto it.
std::string AssembleText(TLogItem& AItem, void* AContext, const char* AFormat, va_list AArgs) {
  char Buffer[LOG_BUFFER_SIZE] = {};
  int Used = 0;
  if (AContext && AItem.Pending.empty()) {
    Used = WriteContextPrefix(Buffer, sizeof(Buffer), AContext);
  } else if (!AItem.Pending.empty()) {
    Used = static_cast<int>(std::min(AItem.Pending.size(), sizeof(Buffer) - 1));
    std::memcpy(Buffer, AItem.Pending.data(), Used);
  }
  const size_t Room = sizeof(Buffer) - Used;
  const int Wanted = av::my_vsprintf(Buffer + Used, Room, AFormat ? AFormat : "", AArgs);
  std::string Text(Buffer);
  if (Wanted >= 0 && static_cast<size_t>(Wanted) >= Room && (Text.empty() || Text.back() != '\n'))
    Text.push_back('\n');
  return Text;
}

void DeliverAll(std::vector<TDelivery>& ADeliveries, int ALevel) {
  for (TDelivery& Delivery : ADeliveries) {
    TLibraryLogTarget* Target = Delivery.Link->Enter();
    if (!Target) continue;
    try {
      Target->RelayLibraryLine(Delivery.TaskIndex, ALevel, Delivery.Line);
    } catch (...) {
      // No exception may unwind into the library that called us; the line is lost.
    }
    Delivery.Link->Leave();
  }
}

}  // namespace

void RegisterLogTarget(TLibraryLogTarget* ATarget) {
  TLogRegistry& R = Registry();
  std::lock_guard<std::recursive_mutex> Guard(R.Lock);
  R.Targets.push_back(std::make_shared<TTargetLink>(ATarget));
}

void UnregisterLogTarget(TLibraryLogTarget* ATarget) {
  TLogRegistry& R = Registry();
  std::shared_ptr<TTargetLink> Link;
  {
    std::lock_guard<std::recursive_mutex> Guard(R.Lock);
    for (auto It = R.Targets.begin(); It != R.Targets.end(); ++It)
      if ((*It)->Target() == ATarget) {
        Link = *It;
        R.Targets.erase(It);
        break;
      }
  }
  if (Link) Link->Detach();
}

void ClearLogList() {
  TLogRegistry& R = Registry();
  std::lock_guard<std::recursive_mutex> Guard(R.Lock);
  R.Lines.Clear();
}

namespace {

void CollectAndDeliver(void* AContext, int ALevel, const char* AFormat, va_list AArgs) {
  TLogRegistry& R = Registry();
  std::vector<TDelivery> Deliveries;
  {
    std::lock_guard<std::recursive_mutex> Guard(R.Lock);
    const pid_t Id = Platform::CurrentThreadID();
    TLogItem& Item = R.Lines.FindOrAdd(Id);
    std::string Text = AssembleText(Item, AContext, AFormat, AArgs);
    for (size_t Feed = Text.find('\n'); Feed != std::string::npos; Feed = Text.find('\n')) {
      const std::string Line = Text.substr(0, Feed);
      Text.erase(0, Feed + 1);
      for (const std::shared_ptr<TTargetLink>& Link : R.Targets)
        Deliveries.push_back({Link, Link->Target()->TaskIndexOfThread(Id), Line});
    }
    Item.Pending = std::move(Text);
  }
  DeliverAll(Deliveries, ALevel);
}

}  // namespace

extern "C" void ConverterLogCallback(void* AContext, int ALevel, const char* AFormat, va_list AArgs) {
  const int Level = EngineLogLevel(ALevel);
  if (Level > GlobalLogLevel.load()) return;
  try {
    CollectAndDeliver(AContext, Level, AFormat, AArgs);
  } catch (...) {
    // Out of memory while assembling: the message is dropped, the library goes on.
  }
}
