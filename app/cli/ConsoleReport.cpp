#include "ConsoleReport.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "MyUtils.h"

namespace {

// The engine's messages break lines as CR LF; here every line is indented.
std::string OneMessage(const std::string& AText) {
  std::string Result;
  for (size_t I = 0; I < AText.size(); ++I) {
    if (AText[I] == '\r' && I + 1 < AText.size() && AText[I + 1] == '\n') continue;
    Result += AText[I];
    if (AText[I] == '\n') Result += "    ";
  }
  return Result;
}

int TerminalWidth(FILE* AOut) {
  winsize Size{};
  if (ioctl(fileno(AOut), TIOCGWINSZ, &Size) == 0 && Size.ws_col > 20) return Size.ws_col;
  return 80;
}

int Percent(const TFileState& AFile) {
  if (AFile.TotalMs <= 0) return -1;
  return static_cast<int>(std::clamp<int64_t>(AFile.DoneMs * 100 / AFile.TotalMs, 0, 100));
}

}  // namespace

std::string ProgressLine(const TFileState& AFile, int AWidth) {
  const int Pct = Percent(AFile);
  std::string Tail;
  if (Pct >= 0) Tail += FormatText(" %3d%%", Pct);
  if (AFile.Speed > 0) {
    Tail += FormatText("  %.1fx", AFile.Speed);
    if (AFile.TotalMs > AFile.DoneMs)
      Tail += "  " + FormatDuration(static_cast<int64_t>((AFile.TotalMs - AFile.DoneMs) / AFile.Speed)) + " left";
  }
  const int BarWidth = 20;
  std::string Bar = "[";
  const int Filled = Pct >= 0 ? Pct * BarWidth / 100 : 0;
  Bar += std::string(Filled, '#') + std::string(BarWidth - Filled, '-') + "]";
  std::string Name = ExtractFileName(AFile.Input);
  const int Room = AWidth - 1 - static_cast<int>(Bar.size() + Tail.size()) - 4;
  if (Room < static_cast<int>(Name.size())) Name = Room > 3 ? Name.substr(0, Room - 3) + "..." : "";
  return "  " + Name + "  " + Bar + Tail;
}

std::string BatchLine(const TBatchTotals& ATotals, int AWidth) {
  std::string Line = FormatText("  %d of %d files", ATotals.Ended(), ATotals.Files);
  if (ATotals.Failed > 0) Line += FormatText(" (%d failed)", ATotals.Failed);
  if (ATotals.TotalMs > 0)
    Line += "  audio " + FormatDuration(ATotals.DoneMs) + " of " + (ATotals.TotalIsEstimate ? "~" : "") +
            FormatDuration(ATotals.TotalMs);
  if (ATotals.SecondsLeft >= 0)
    Line += "  " + FormatDuration(static_cast<int64_t>(ATotals.SecondsLeft * 1000)) + " left";
  if (static_cast<int>(Line.size()) >= AWidth) Line.resize(std::max(AWidth - 1, 0));
  return Line;
}

std::string ResultLine(const TFileState& AFile) {
  const std::string Name = ExtractFileName(AFile.Input);
  switch (AFile.Outcome) {
    case TFileOutcome::Done: return "Done     " + Name + " -> " + AFile.Output;
    case TFileOutcome::Stopped:
      if (AFile.Output.empty())
        return "Stopped  " + Name + " (" + (AFile.Message.empty() ? "not started" : AFile.Message) + ", no output)";
      return "Stopped  " + Name + " -> " + AFile.Output + " (incomplete: " + FormatDuration(AFile.DoneMs) +
             (AFile.TotalMs > 0 ? " of " + FormatDuration(AFile.TotalMs) : std::string()) + ")";
    case TFileOutcome::Failed:
      // The engine's messages mostly name the file themselves.
      if (AFile.Message.rfind(AFile.Input + ":", 0) == 0) return "Failed   " + OneMessage(AFile.Message);
      return "Failed   " + Name + ": " + OneMessage(AFile.Message);
    default: return "         " + Name;
  }
}

TConsoleReporter::TConsoleReporter(FILE* AOut, FILE* AErr, bool ATerminal)
    : FOut(AOut), FErr(AErr), FTerminal(ATerminal) {}

void TConsoleReporter::EraseLive() {
  for (; FDrawn > 0; --FDrawn) std::fputs("\033[1A\r\033[K", FOut);
}

void TConsoleReporter::DrawLive() {
  auto Draw = [this](const std::string& ALine) {
    std::fputs(ALine.c_str(), FOut);
    std::fputc('\n', FOut);
    ++FDrawn;
  };
  for (const auto& [Id, Line] : FLive) Draw(Line);
  if (!FBatchLine.empty()) Draw(FBatchLine);
  std::fflush(FOut);
}

// A pipe gets only the result lines: a script reads one line per file.
void TConsoleReporter::FileProgress(const TFileState& AFile, const TBatchTotals& ATotals) {
  if (!FTerminal) return;
  const int Width = TerminalWidth(FOut);
  EraseLive();
  FLive[AFile.Id] = ProgressLine(AFile, Width);
  FBatchLine = ATotals.Files > 1 ? BatchLine(ATotals, Width) : std::string();
  DrawLive();
}

void TConsoleReporter::FileEnded(const TFileState& AFile, const TBatchTotals& ATotals) {
  if (FTerminal) EraseLive();
  FLive.erase(AFile.Id);
  std::fprintf(FOut, "%s\n", ResultLine(AFile).c_str());
  if (FTerminal) {
    FBatchLine = ATotals.Files > 1 && ATotals.Ended() < ATotals.Files ? BatchLine(ATotals, TerminalWidth(FOut))
                                                                      : std::string();
    DrawLive();
  }
  std::fflush(FOut);
}

void TConsoleReporter::Message(const std::string& AText) {
  const bool SameScreen = FTerminal && isatty(fileno(FErr));
  if (SameScreen) EraseLive();
  std::fprintf(FErr, "%s\n", OneMessage(AText).c_str());
  std::fflush(FErr);
  if (SameScreen) DrawLive();
}
