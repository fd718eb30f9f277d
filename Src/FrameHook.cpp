#include "FrameHook.h"

void ReleaseFrameHooks(TFrameHookList& AList) {
  for (TFrameHookRecord& Record : AList)
    if (Record.Release) Record.Release(Record.Context);
  AList.clear();
}
