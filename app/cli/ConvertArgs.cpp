#include "ConvertArgs.h"

#include "MyUtils.h"

namespace {

// A whole decimal number from ALow to AHigh, written without a plus sign.
bool ReadInt(const std::string& AText, int ALow, int AHigh, int& AValue) {
  return (AText.empty() || AText[0] != '+') && ParseInteger(AText, AValue) && AValue >= ALow && AValue <= AHigh;
}

bool ReadLogLevel(const std::string& AText, TLogLevel& ALevel) {
  static const std::pair<const char*, TLogLevel> Names[] = {
      {"quiet", llQuiet}, {"error", llError}, {"info", llInfo}, {"debug", llDebug}, {"all", llAll}};
  for (auto [Name, Level] : Names)
    if (AText == Name) {
      ALevel = Level;
      return true;
    }
  return false;
}

}  // namespace

bool ParseConvertArgs(const std::vector<std::string>& AArgs, TConvertArgs& AResult, std::string& AError) {
  AResult = TConvertArgs();
  bool OptionsEnded = false;
  for (size_t I = 0; I < AArgs.size(); ++I) {
    const std::string& Arg = AArgs[I];
    if (OptionsEnded || Arg.empty() || Arg[0] != '-' || Arg == "-") {
      AResult.Files.push_back(Arg);
      continue;
    }
    if (Arg == "--") {
      OptionsEnded = true;
      continue;
    }
    // Options with a value take it from the next argument or after "=".
    std::string Name = Arg, Value;
    bool HasValue = false;
    if (const size_t Eq = Arg.find('='); Arg.rfind("--", 0) == 0 && Eq != std::string::npos) {
      Name = Arg.substr(0, Eq);
      Value = Arg.substr(Eq + 1);
      HasValue = true;
    }
    auto NeedValue = [&]() -> bool {
      if (HasValue) return true;
      if (I + 1 >= AArgs.size()) {
        AError = "option " + Name + " needs a value";
        return false;
      }
      Value = AArgs[++I];
      return true;
    };
    if (Name == "-h" || Name == "--help") {
      AResult.Help = true;
    } else if (Name == "--version") {
      AResult.Version = true;
    } else if (Name == "--demo") {
      AResult.Demo = true;
    } else if (Name == "--same-folder") {
      AResult.Batch.SameFolder = true;
    } else if (Name == "-o" || Name == "--output") {
      if (!NeedValue()) return false;
      if (Value.empty()) {
        AError = "the output folder must not be empty";
        return false;
      }
      AResult.Batch.OutputFolder = Value;
    } else if (Name == "-j" || Name == "--jobs") {
      if (!NeedValue()) return false;
      if (!ReadInt(Value, 0, 64, AResult.Batch.Jobs)) {
        AError = "-j takes a number of conversions from 0 to 64, not '" + Value + "'";
        return false;
      }
    } else if (Name == "-b" || Name == "--bitrate") {
      if (!NeedValue()) return false;
      if (!ReadInt(Value, 8, 320, AResult.Batch.BitrateKbits)) {
        AError = "-b takes a bit rate in kbit/s from 8 to 320, not '" + Value + "'";
        return false;
      }
    } else if (Name == "--opt") {
      if (!NeedValue()) return false;
      if (Value.find('=') == std::string::npos || Value[0] == '=') {
        AError = "--opt takes NAME=VALUE, not '" + Value + "'";
        return false;
      }
      AResult.Batch.ExtraLines.push_back(Value);
    } else if (Name == "--log-level") {
      if (!NeedValue()) return false;
      if (!ReadLogLevel(Value, AResult.Batch.LogLevel)) {
        AError = "--log-level takes quiet, error, info, debug or all, not '" + Value + "'";
        return false;
      }
    } else {
      AError = "unknown option " + Name;
      return false;
    }
  }
  if (!AResult.Help && !AResult.Version && !AResult.Demo && AResult.Files.empty()) {
    AError = "no input files";
    return false;
  }
  return true;
}

std::string ConvertUsage() {
  return "Usage: pemmet-convert [options] FILE...\n"
         "Converts every FILE to MP3 (libmp3lame); outputs are named \"NAME (MP3 MPEG Layer-3).mp3\"\n"
         "and never overwrite a file.\n"
         "\n"
         "  -o, --output DIR     output folder (default: the settings' folder; created when missing)\n"
         "      --same-folder    write each output beside its input\n"
         "  -j, --jobs N         conversions at once (default: one per processor; 0: one at a\n"
         "                       time on the main thread)\n"
         "  -b, --bitrate KBITS  MP3 bit rate (default: the input's, brought into MP3's range)\n"
         "      --opt NAME=VALUE a transcoder option, e.g. ar=22050, ac=1, t=30, ss=5, vol=512;\n"
         "                       repeatable; wins over the values derived from the input\n"
         "      --log-level L    quiet, error (default), info, debug or all\n"
         "      --demo           make a short example file and convert it\n"
         "  -h, --help           this text\n"
         "      --version        the program's and the libraries' versions\n"
         "\n"
         "Exit status: 0 every file converted, 1 a file failed, 2 usage error, 130 stopped by Ctrl-C.\n";
}
