// Helpers shared by the tests: temporary folders and small generated media.
#pragma once

#include <string>

// A fresh folder under the system's temporary folder, removed with its contents.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& AName) const { return FPath + "/" + AName; }

private:
  std::string FPath;
};

void WriteTextFile(const std::string& AFileName, const std::string& AContent);

// Loads every library through the binding from the system; fails the test if it cannot.
void LoadSystemLibraries();

// A sine tone as 16-bit PCM in a WAV file, written with the library's own muxer
// through the binding. Needs the libraries loaded.
void WriteToneWav(const std::string& AFileName, double ASeconds, int ASampleRate = 44100,
                  int AChannels = 2, double AFrequency = 440.0);
