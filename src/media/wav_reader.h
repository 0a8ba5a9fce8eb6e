#pragma once
// The program's own WAV reader, for files it must read without the platform's
// decoders: the convolution impulse response and the render tool's input.
// Accepts mono or stereo, integer PCM of 16, 24 or 32 bits and IEEE float of
// 32 or 64 bits; a mono file fills both sides.

#include "platform/files.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace media {

struct WavAudio {
    std::vector<float> left;
    std::vector<float> right;
    uint32_t sampleRate = 0;
    uint16_t channels = 0;      // as the file has them: 1 or 2
    uint16_t bitsPerSample = 0;
    bool isFloat = false;
};

// Parses a whole file's bytes. False when there is no "RIFF" start or no
// acceptable data chunk.
bool parseWav(std::span<const uint8_t> bytes, WavAudio& audio);
bool readWav(platform::Files& files, const std::wstring& path, WavAudio& audio);

// The same, for callers that want only the samples and the rate; on failure
// the vectors are left empty.
bool readWav(std::span<const uint8_t> bytes, std::vector<float>& left, std::vector<float>& right,
             uint32_t& sampleRate);
bool readWav(platform::Files& files, const std::wstring& path, std::vector<float>& left, std::vector<float>& right,
             uint32_t& sampleRate);

} // namespace media
