// What pemmet-convert prints: one result line per file; on a terminal also a live
// progress line per running file and one for the batch as a whole.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "BatchDriver.h"

class TConsoleReporter : public TBatchReporter {
public:
  // AOut takes progress and results, AErr the log; ATerminal draws live lines.
  TConsoleReporter(FILE* AOut, FILE* AErr, bool ATerminal);

  void FileProgress(const TFileState& AFile, const TBatchTotals& ATotals) override;
  void FileEnded(const TFileState& AFile, const TBatchTotals& ATotals) override;
  void Message(const std::string& AText) override;

private:
  void EraseLive();
  void DrawLive();

  FILE* FOut;
  FILE* FErr;
  bool FTerminal;
  std::map<int32_t, std::string> FLive;  // file id -> its progress line
  std::string FBatchLine;                // shown under the files' lines
  int FDrawn = 0;                        // live lines on the screen now
};

// One progress line: name, bar, percent, speed and time left, at most AWidth columns.
std::string ProgressLine(const TFileState& AFile, int AWidth);
// The batch's line: files ended of all, audio converted of all, time left.
std::string BatchLine(const TBatchTotals& ATotals, int AWidth);
// The result line of a file that has ended.
std::string ResultLine(const TFileState& AFile);
