// The Convert workflow's choices for one task, shared by the window and the
// command-line converter: the output format's extension and label, and the output
// options a task gets from its probe.
#pragma once

#include <string>

#include "AVOptionRecords.h"
#include "AVProbe.h"

// The one output format the converter offers.
inline const char* const Mp3FormatText = "MP3 MPEG Layer-3 (*.mp3)";
// Outputs and inputs with these extensions carry no video.
inline const char* const AudioExtensions = ".aac .ac3 .mp2 .mp3 .wav .wma .amr .ogg .flac .ra";

// ".mp3" of "MP3 MPEG Layer-3 (*.mp3)": from two after the first "(" to before the
// first ")"; empty when the text has no such pair.
std::string FormatExtension(const std::string& AFormatText);
// "MP3 MPEG Layer-3": the text before the blank in front of the first "(", with every
// "*" as "x".
std::string FormatLabel(const std::string& AFormatText);

// The window's rules: video off for audio formats and audio inputs, the encoder for
// MP3, and the probe's channels, sample rate and bit rate (and frame size for video
// outputs). AOptions is reset first.
void BuildOutputOptions(const TAVProbe& ATaskProbe, const std::string& AFormatText, TOutputOptions& AOptions);

// What the window's rules would make MP3 fail on, brought into MP3's range: more than
// two channels become two, a sample rate MP3 has not becomes the nearest it has, and
// the bit rate becomes the nearest that MP3 allows at that rate (an unknown one is
// left to the encoder).
void FitToMp3(TOutputOptions& AOptions);

// The sample rate MP3 uses for an input rate ARate, and the bit rate (bit/s) nearest
// to ABitRate that MP3 allows at that sample rate.
int Mp3SampleRate(int ARate);
int Mp3BitRate(int ABitRate, int ASampleRate);

// The input's tags (title, artist, album, ...) taken into the record's meta-data;
// container tags first, the first audio stream's where the container has none.
void CarryTags(const TAVProbe& ATaskProbe, TOutputOptions& AOptions);
