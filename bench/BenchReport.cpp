#include "BenchReport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ostream>
#include <stdexcept>

double Median(std::vector<double> AValues) {
  if (AValues.empty()) return 0;
  std::sort(AValues.begin(), AValues.end());
  const size_t Mid = AValues.size() / 2;
  return AValues.size() % 2 ? AValues[Mid] : (AValues[Mid - 1] + AValues[Mid]) / 2;
}

std::vector<double> TContenderResult::WallTimes() const {
  std::vector<double> Result;
  for (const TRunMeasure& Run : Runs) Result.push_back(Run.WallSeconds);
  return Result;
}

double TContenderResult::MedianWall() const { return Median(WallTimes()); }

double TContenderResult::FastestWall() const {
  const std::vector<double> Times = WallTimes();
  return Times.empty() ? 0 : *std::min_element(Times.begin(), Times.end());
}

double TContenderResult::MedianCpu() const {
  std::vector<double> Cpu;
  for (const TRunMeasure& Run : Runs) Cpu.push_back(Run.CpuSeconds);
  return Median(Cpu);
}

int64_t TContenderResult::PeakKiB() const {
  int64_t Peak = 0;
  for (const TRunMeasure& Run : Runs) Peak = std::max(Peak, Run.PeakKiB);
  return Peak;
}

std::vector<TContenderResult> RunInTurns(const std::vector<TContender>& AContenders, int ARounds,
                                         std::ostream* AProgress) {
  std::vector<TContenderResult> Results;
  for (const TContender& C : AContenders) Results.push_back({C.Name, {}});
  for (int Round = 1; Round <= ARounds; ++Round)
    for (size_t I = 0; I < AContenders.size(); ++I) {
      TRunMeasure Measure = AContenders[I].Run();
      if (!Measure.Succeeded)
        throw std::runtime_error(AContenders[I].Name + ", run " + std::to_string(Round) + ": " + Measure.Failure);
      if (AProgress)
        *AProgress << "    run " << Round << " " << AContenders[I].Name << ": " << FormatSeconds(Measure.WallSeconds)
                   << ", " << FormatMiB(Measure.PeakKiB) << std::endl;
      Results[I].Runs.push_back(std::move(Measure));
    }
  return Results;
}

void TTable::Print(std::ostream& AOut, const std::string& AIndent) const {
  std::vector<size_t> Widths;
  for (const auto& Row : FRows)
    for (size_t C = 0; C < Row.size(); ++C) {
      if (Widths.size() <= C) Widths.push_back(0);
      Widths[C] = std::max(Widths[C], Row[C].size());
    }
  for (const auto& Row : FRows) {
    std::string Line = AIndent;
    for (size_t C = 0; C < Row.size(); ++C) {
      Line += Row[C];
      if (C + 1 < Row.size()) Line += std::string(Widths[C] - Row[C].size() + 2, ' ');
    }
    AOut << Line << '\n';
  }
}

namespace {

std::string Printf(const char* AFormat, double AValue) {
  char Text[64];
  std::snprintf(Text, sizeof Text, AFormat, AValue);
  return Text;
}

}  // namespace

std::string FormatSeconds(double ASeconds) { return Printf("%.2f s", ASeconds); }

std::string FormatRunTimes(const std::vector<double>& ASeconds) {
  std::string Text;
  for (double S : ASeconds) Text += (Text.empty() ? "" : " ") + Printf("%.2f", S);
  return Text;
}

std::string FormatMiB(int64_t AKiB) { return Printf("%.1f MiB", double(AKiB) / 1024.0); }

std::string FormatBytes(int64_t ABytes) {
  return Printf("%.2f MB", double(ABytes) / 1e6) + " (" + std::to_string(ABytes) + " B)";
}

std::string FormatRatio(double ARatio) { return Printf("%.3f", ARatio); }

std::string FormatTimesRealTime(double AFactor) { return Printf("%.1fx", AFactor); }

std::string FormatRatioAgainst(double ARatio, double AMaximum) {
  return FormatRatio(ARatio) + " (target <= " + Printf("%.2f", AMaximum) + ": " +
         (ARatio <= AMaximum ? "met" : "NOT met") + ")";
}

std::string FormatRatioAtLeast(double ARatio, double AMinimum) {
  return FormatRatio(ARatio) + " (target >= " + Printf("%.2f", AMinimum) + ": " +
         (ARatio >= AMinimum ? "met" : "NOT met") + ")";
}

double PositiveArgument(const std::string& AName, const char* AText, void (*AUsage)(const std::string&)) {
  if (!AText) AUsage(AName + " needs a value");
  char* End = nullptr;
  const double Value = std::strtod(AText, &End);
  if (End == AText || *End != '\0' || !(Value > 0) || !std::isfinite(Value))
    AUsage(AName + " needs a positive number, not \"" + AText + "\"");
  return Value;
}

int RoundsArgument(const std::string& AName, const char* AText, void (*AUsage)(const std::string&)) {
  const double Rounds = PositiveArgument(AName, AText, AUsage);
  if (Rounds != std::floor(Rounds) || Rounds < 3 || Rounds > 1000) AUsage(AName + " takes a whole number from 3");
  return static_cast<int>(Rounds);
}
