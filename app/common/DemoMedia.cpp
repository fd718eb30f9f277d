#include "DemoMedia.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <vector>

namespace {

void PutLE(std::vector<uint8_t>& AOut, uint32_t AValue, int ABytes) {
  for (int I = 0; I < ABytes; ++I) AOut.push_back(static_cast<uint8_t>(AValue >> (8 * I)));
}

}  // namespace

bool WriteDemoWav(const std::string& AFileName, double ASeconds) {
  constexpr int Rate = 44100, Channels = 2;
  const uint32_t Frames = static_cast<uint32_t>(ASeconds * Rate);
  const uint32_t DataBytes = Frames * Channels * 2;
  std::vector<uint8_t> File;
  File.reserve(44 + DataBytes);
  File.insert(File.end(), {'R', 'I', 'F', 'F'});
  PutLE(File, 36 + DataBytes, 4);
  File.insert(File.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLE(File, 16, 4);
  PutLE(File, 1, 2);  // PCM
  PutLE(File, Channels, 2);
  PutLE(File, Rate, 4);
  PutLE(File, Rate * Channels * 2, 4);
  PutLE(File, Channels * 2, 2);
  PutLE(File, 16, 2);
  File.insert(File.end(), {'d', 'a', 't', 'a'});
  PutLE(File, DataBytes, 4);
  const double Notes[] = {261.63, 329.63, 392.00, 523.25};
  for (uint32_t I = 0; I < Frames; ++I) {
    const double T = static_cast<double>(I) / Rate;
    const double Envelope = std::sin(M_PI * T / ASeconds);
    for (int C = 0; C < Channels; ++C) {
      double Sum = 0;
      for (int N = 0; N < 4; ++N) Sum += std::sin(2 * M_PI * Notes[N] * T + C * N * 0.5);
      PutLE(File, static_cast<uint16_t>(static_cast<int16_t>(Sum / 4 * Envelope * 24000)), 2);
    }
  }
  std::ofstream Out(AFileName, std::ios::binary);
  Out.write(reinterpret_cast<const char*>(File.data()), static_cast<std::streamsize>(File.size()));
  return static_cast<bool>(Out);
}
