#include "media/wav_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace media {

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void putTag(std::vector<uint8_t>& out, const char* tag)
{
    out.insert(out.end(), tag, tag + 4);
}

// Header, then the data in bounded pieces; the writer is abandoned (its
// temporary file deleted) by its destructor on any failure.
bool writeWavBytes(platform::Files& files, const std::wstring& path, WavEncoding encoding, uint32_t sampleRate,
                   std::span<const uint8_t> data)
{
    const uint64_t dataBytes = data.size() & ~uint64_t{1};
    if (dataBytes > kMaxWavDataBytes - (encoding == WavEncoding::Pcm16 ? 0 : 14))
        return false;
    auto writer = files.beginReplace(path, L".part");
    if (!writer)
        return false;
    if (!writer->write(wavHeader(encoding, sampleRate, static_cast<uint32_t>(dataBytes)))) {
        writer->abandon();
        return false;
    }
    for (uint64_t at = 0; at < dataBytes; at += kWavWritePiece) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(kWavWritePiece, dataBytes - at));
        if (!writer->write(data.subspan(static_cast<size_t>(at), piece))) {
            writer->abandon();
            return false;
        }
    }
    if (!writer->commit()) {
        writer->abandon();
        return false;
    }
    return true;
}

// Sample bytes in the file's little-endian order, whatever the machine's.
template <typename T>
std::vector<uint8_t> littleEndianBytes(std::span<const T> samples)
{
    std::vector<uint8_t> bytes(samples.size() * sizeof(T));
    for (size_t i = 0; i < samples.size(); ++i) {
        uint32_t bits = 0;
        if constexpr (sizeof(T) == 2) {
            uint16_t b;
            std::memcpy(&b, &samples[i], 2);
            bits = b;
        } else {
            std::memcpy(&bits, &samples[i], 4);
        }
        for (size_t k = 0; k < sizeof(T); ++k)
            bytes[i * sizeof(T) + k] = static_cast<uint8_t>(bits >> (8 * k));
    }
    return bytes;
}

} // namespace

std::vector<uint8_t> wavHeader(WavEncoding encoding, uint32_t sampleRate, uint32_t dataBytes)
{
    const uint16_t bits = encoding == WavEncoding::Pcm16 ? 16 : 32;
    const uint16_t blockAlign = static_cast<uint16_t>(2 * bits / 8);
    // Float data carries the fuller header other programs expect of a
    // non-PCM format: an 18-byte format chunk and a fact chunk.
    const bool pcm = encoding == WavEncoding::Pcm16;
    std::vector<uint8_t> h;
    h.reserve(58);
    putTag(h, "RIFF");
    put32(h, dataBytes + (pcm ? 36 : 50));
    putTag(h, "WAVE");
    putTag(h, "fmt ");
    put32(h, pcm ? 16 : 18);
    put16(h, pcm ? 1 : 3);
    put16(h, 2);
    put32(h, sampleRate);
    put32(h, sampleRate * blockAlign);
    put16(h, blockAlign);
    put16(h, bits);
    if (!pcm) {
        put16(h, 0);
        putTag(h, "fact");
        put32(h, 4);
        put32(h, dataBytes / blockAlign);
    }
    putTag(h, "data");
    put32(h, dataBytes);
    return h;
}

bool writeWav(platform::Files& files, const std::wstring& path, std::span<const int16_t> stereo, uint32_t sampleRate)
{
    if (uint64_t{stereo.size()} * 2 > kMaxWavDataBytes)
        return false;
    const std::vector<uint8_t> bytes = littleEndianBytes(stereo);
    return writeWavBytes(files, path, WavEncoding::Pcm16, sampleRate, bytes);
}

bool writeWavFloat(platform::Files& files, const std::wstring& path, std::span<const float> stereo, uint32_t sampleRate)
{
    if (uint64_t{stereo.size()} * 4 > kMaxWavDataBytes - 14)
        return false;
    const std::vector<uint8_t> bytes = littleEndianBytes(stereo);
    return writeWavBytes(files, path, WavEncoding::Float32, sampleRate, bytes);
}

int16_t toPcm16(float sample) noexcept
{
    if (!(sample == sample))
        return 0;
    const float scaled = std::round(sample * 32768.0f);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

} // namespace media
