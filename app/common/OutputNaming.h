// Output file names derived from input names, never naming a file that exists or
// that another conversion of the same batch is to write.
#pragma once

#include <functional>
#include <set>
#include <string>

// Whether a path is already used. Anything at the path counts, a folder too: a file
// of that name could not be written.
using TNameTaken = std::function<bool(const std::string& AFileName)>;
bool OutputNameTaken(const std::string& AFileName);

// AFileName without its extension, then " (" ALabel ")" AExt; when that is taken,
// " (" ALabel " [n])" AExt with the first n from 1 on that is free. The extension is
// what follows the last "." of the file-name part, unless that dot starts the part
// (a hidden file's name has no extension).
std::string MakeOutputName(const std::string& AFileName, const std::string& AExt, const std::string& ALabel);
std::string MakeOutputName(const std::string& AFileName, const std::string& AExt, const std::string& ALabel,
                           const TNameTaken& ATaken);

// The names one batch has given out. Every output of a batch is named before any of
// them is written, so a name is also taken while it is reserved here: two inputs
// that would lead to the same output get distinct names. Paths are compared after
// making them absolute and normal, so "out//a.mp3" and "out/./a.mp3" are one name.
// Not for use from several threads at once.
class TOutputNameReservations {
public:
  // MakeOutputName passing over reserved names as well; the result is reserved.
  std::string MakeOutputName(const std::string& AFileName, const std::string& AExt, const std::string& ALabel);
  // False when the name was reserved already.
  bool Reserve(const std::string& AFileName);
  bool IsReserved(const std::string& AFileName) const;
  // A task that no longer writes its output gives the name back.
  void Release(const std::string& AFileName);
  void Clear() { FNames.clear(); }
  size_t Count() const { return FNames.size(); }

private:
  std::set<std::string> FNames;
};
