// Measuring contenders in turns and printing what came out.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "BenchProcess.h"

double Median(std::vector<double> AValues);

// One way of doing the job; each call of Run is one measured run in a child process.
struct TContender {
  std::string Name;
  std::function<TRunMeasure()> Run;
};

struct TContenderResult {
  std::string Name;
  std::vector<TRunMeasure> Runs;

  std::vector<double> WallTimes() const;
  double MedianWall() const;
  double FastestWall() const;  // least disturbed by other work on the machine
  double MedianCpu() const;
  int64_t PeakKiB() const;  // the highest of the runs
};

// Runs the contenders in turns, A B A B ..., ARounds times each, so that drift of the
// machine (other work, caches, clock speed) falls on all of them alike. Throws
// std::runtime_error on the first run that fails: its figures would mean nothing.
// AProgress, when set, gets one line per run.
std::vector<TContenderResult> RunInTurns(const std::vector<TContender>& AContenders, int ARounds,
                                         std::ostream* AProgress = nullptr);

// A table of text cells printed with aligned columns; the first row is the heading.
class TTable {
public:
  explicit TTable(std::vector<std::string> AHeading) { FRows.push_back(std::move(AHeading)); }
  void AddRow(std::vector<std::string> ACells) { FRows.push_back(std::move(ACells)); }
  void Print(std::ostream& AOut, const std::string& AIndent = "  ") const;

private:
  std::vector<std::vector<std::string>> FRows;
};

std::string FormatSeconds(double ASeconds);      // "12.34 s"
std::string FormatRunTimes(const std::vector<double>& ASeconds);  // "12.3 12.4 12.2"
std::string FormatMiB(int64_t AKiB);             // "15.2 MiB"
std::string FormatBytes(int64_t ABytes);         // "14.40 MB (14400417 B)"
std::string FormatRatio(double ARatio);          // "1.013"
std::string FormatTimesRealTime(double AFactor); // "48.6x"
// "met" or "NOT met", with the target: "1.013 (target <= 1.02: met)".
std::string FormatRatioAgainst(double ARatio, double AMaximum);
// The same for a ratio that should reach a minimum: "1.913 (target >= 1.80: met)".
std::string FormatRatioAtLeast(double ARatio, double AMinimum);

// A command-line value that must be a positive, finite number; AUsage (which does not
// return) tells the user otherwise.
double PositiveArgument(const std::string& AName, const char* AText, void (*AUsage)(const std::string&));

// A round count: a whole number from 3 to 1000, read like PositiveArgument.
int RoundsArgument(const std::string& AName, const char* AText, void (*AUsage)(const std::string&));
