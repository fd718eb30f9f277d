// The built-in example of pemmet-convert --demo: a short chord as a WAV file.
#pragma once

#include <string>

// A major chord that swells and fades, 44.1 kHz, stereo, 16-bit. False when the file
// cannot be written.
bool WriteDemoWav(const std::string& AFileName, double ASeconds);
