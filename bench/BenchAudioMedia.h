// The audio benchmark's work with the codec libraries. Each function runs in a child
// process of the benchmark (the benchmark's own process never loads the libraries,
// see BenchProcess.h), loads the libraries itself and returns the child's exit code.
#pragma once

#include <string>

// Writes the test signal, ASeconds long, stereo 44.1 kHz, as "wav" (16-bit PCM) or
// "ogg" (Vorbis).
int MakeBenchInput(const std::string& AKind, double ASeconds, const std::string& AFileName);

// The same signal moved up by AVariant semitones (0 to 12), so that files of one batch
// differ in content and none of them is encoded from the same samples as another.
int MakeBenchInputVariant(const std::string& AKind, double ASeconds, int AVariant, const std::string& AFileName);

// Converts AInput to an MP3 at AKbits kbit/s with the engine, its other settings left
// at their defaults.
int ConvertWithEngine(const std::string& AInput, const std::string& AOutput, int AKbits);

// Prints "<decoded seconds> <probed seconds> <sample rate> <channels>" for the first
// audio stream of AFileName: every packet is decoded and the samples are counted; the
// probe's figure is what the file's headers claim.
int PrintAudioDuration(const std::string& AFileName);

// The batch benchmarks' child modes, this program started again for one piece of
// library work: "--make-input KIND SECONDS VARIANT FILE" and "--audio-duration FILE".
// Returns the child's exit code, or -1 when the arguments are no child mode.
int RunBenchChildMode(int AArgc, char** AArgv);
