#pragma once
// The program's own WAV writer: 16-bit stereo PCM for takes and excerpts, and
// 32-bit float for the render tool. Written under path + ".part" and moved
// into place only when complete, so a failed save leaves any old file as it was.

#include "platform/files.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace media {

// The RIFF size field must hold data bytes + 36.
inline constexpr uint64_t kMaxWavDataBytes = 4294967259ull;
// Data goes out in pieces of at most this many bytes.
inline constexpr size_t kWavWritePiece = 1048576;

enum class WavEncoding { Pcm16, Float32 };

// The header for interleaved stereo data of dataBytes bytes: 44 bytes for
// 16-bit PCM, 58 for float.
std::vector<uint8_t> wavHeader(WavEncoding encoding, uint32_t sampleRate, uint32_t dataBytes);

// Interleaved L/R 16-bit samples. Refuses data beyond kMaxWavDataBytes before
// creating anything.
bool writeWav(platform::Files& files, const std::wstring& path, std::span<const int16_t> stereo, uint32_t sampleRate);
// Interleaved L/R floats, written as 32-bit IEEE float.
bool writeWavFloat(platform::Files& files, const std::wstring& path, std::span<const float> stereo, uint32_t sampleRate);

// Float to 16-bit with rounding and saturation at full scale.
int16_t toPcm16(float sample) noexcept;

} // namespace media
