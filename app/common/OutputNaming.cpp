#include "OutputNaming.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>

bool OutputNameTaken(const std::string& AFileName) {
  struct stat St;
  // lstat: a dangling link is taken too, writing would create its target. A path
  // that cannot be looked at for another reason counts as free; creating the file
  // will report it.
  return lstat(AFileName.c_str(), &St) == 0;
}

namespace {

std::string WithoutExtension(const std::string& AFileName) {
  const size_t Slash = AFileName.rfind('/');
  const size_t NameStart = Slash == std::string::npos ? 0 : Slash + 1;
  const size_t Dot = AFileName.rfind('.');
  if (Dot == std::string::npos || Dot <= NameStart) return AFileName;
  return AFileName.substr(0, Dot);
}

// One spelling for every way of writing the same path.
std::string NormalPath(const std::string& AFileName) {
  std::error_code Error;
  const std::filesystem::path Absolute = std::filesystem::absolute(AFileName, Error);
  if (Error) return std::filesystem::path(AFileName).lexically_normal().string();
  const std::filesystem::path Canonical = std::filesystem::weakly_canonical(Absolute, Error);
  return (Error ? Absolute.lexically_normal() : Canonical).string();
}

}  // namespace

std::string MakeOutputName(const std::string& AFileName, const std::string& AExt, const std::string& ALabel,
                           const TNameTaken& ATaken) {
  const std::string Base = WithoutExtension(AFileName);
  std::string Name = Base + " (" + ALabel + ")" + AExt;
  for (uint64_t N = 1; ATaken(Name); ++N) Name = Base + " (" + ALabel + " [" + std::to_string(N) + "])" + AExt;
  return Name;
}

std::string MakeOutputName(const std::string& AFileName, const std::string& AExt, const std::string& ALabel) {
  return MakeOutputName(AFileName, AExt, ALabel, OutputNameTaken);
}

std::string TOutputNameReservations::MakeOutputName(const std::string& AFileName, const std::string& AExt,
                                                    const std::string& ALabel) {
  const std::string Name = ::MakeOutputName(AFileName, AExt, ALabel, [this](const std::string& ACandidate) {
    return IsReserved(ACandidate) || OutputNameTaken(ACandidate);
  });
  Reserve(Name);
  return Name;
}

bool TOutputNameReservations::Reserve(const std::string& AFileName) {
  return FNames.insert(NormalPath(AFileName)).second;
}

bool TOutputNameReservations::IsReserved(const std::string& AFileName) const {
  return FNames.count(NormalPath(AFileName)) != 0;
}

void TOutputNameReservations::Release(const std::string& AFileName) { FNames.erase(NormalPath(AFileName)); }
