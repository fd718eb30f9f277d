// Reading a converted file back: what a listener gets from it.
#pragma once

#include <string>

struct TDecodedSummary {
  bool Ok = false;
  std::string Error;
  double Seconds = 0;  // decoded samples / sample rate, after the encoder's delay and padding are trimmed
  int SampleRate = 0;
  int Channels = 0;
  int64_t BitRate = 0;  // bit/s, as the container tells
};

// Decodes the first audio stream of AFileName to its end. Needs the libraries loaded.
TDecodedSummary DecodeAudioSummary(const std::string& AFileName);
// Whether a player gets any sound from the file: its first audio stream opens and
// decodes to at least one sample. Reads only as far as that.
bool HoldsAudio(const std::string& AFileName);
