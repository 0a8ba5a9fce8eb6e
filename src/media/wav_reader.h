#pragma once
// The program's own WAV reader: PCM of 16, 24 or 32 bits and IEEE float of 32
// or 64 bits, mono or stereo, in a RIFF file of chunks. Used for the cavern's
// impulse response; it parses outside input, so every size in the file is
// checked against the bytes actually there.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {
class Files;
}

namespace media {

// Parses a whole WAV file. Channel 0 goes to `left`, channel 1 to `right`; a
// mono file fills both. Returns false, leaving the outputs empty, when the
// bytes hold no acceptable data chunk.
bool readWav(std::span<const uint8_t> bytes, std::vector<float>& left, std::vector<float>& right, uint32_t& sampleRate);

// Reads the file at `path` through the file seam and parses it.
bool readWav(platform::Files& files, const std::wstring& path, std::vector<float>& left, std::vector<float>& right,
    uint32_t& sampleRate);

} // namespace media
