// What pemmet-convert prints: a live progress line per running file on a terminal,
// plain lines otherwise, and one result line per file.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "ConvertBatch.h"

class TConsoleReporter : public TBatchReporter {
public:
  // AOut takes progress and results, AErr the log; ATerminal draws live lines.
  TConsoleReporter(FILE* AOut, FILE* AErr, bool ATerminal);

  void FileProgress(const TFileState& AFile) override;
  void FileEnded(const TFileState& AFile) override;
  void Message(const std::string& AText) override;

private:
  void EraseLive();
  void DrawLive();

  FILE* FOut;
  FILE* FErr;
  bool FTerminal;
  std::map<int32_t, std::string> FLive;  // task index -> its progress line
  int FDrawn = 0;                        // live lines on the screen now
  std::map<int32_t, int> FLastDecile;    // plain mode: last tenth printed
};

// "1:05" (or "1:02:03") for a duration in milliseconds.
std::string FormatDuration(int64_t AMilliseconds);
// One progress line: name, bar, percent, speed and time left, at most AWidth columns.
std::string ProgressLine(const TFileState& AFile, int AWidth);
// The result line of a file that has ended.
std::string ResultLine(const TFileState& AFile);
