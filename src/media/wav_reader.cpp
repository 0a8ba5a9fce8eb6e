#include "media/wav_reader.h"

#include "platform/files.h"

#include <algorithm>
#include <cstring>

namespace media {

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;

uint16_t le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16)
        | (static_cast<uint32_t>(p[3]) << 24);
}

struct Format {
    bool seen = false;
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bits = 0;
};

// One sample at p as a float: float 32/64 as stored, PCM scaled to ±1, any other width 0.
float sampleAt(const uint8_t* p, uint16_t tag, uint16_t bits)
{
    if (tag == kTagFloat) {
        if (bits == 32) {
            float f;
            const uint32_t u = le32(p);
            std::memcpy(&f, &u, sizeof f);
            return f;
        }
        if (bits == 64) {
            const uint64_t u = le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32);
            double d;
            std::memcpy(&d, &u, sizeof d);
            return static_cast<float>(d);
        }
        return 0.0f;
    }
    switch (bits) {
    case 16:
        return static_cast<float>(static_cast<int16_t>(le16(p))) * (1.0f / 32768.0f);
    case 24: {
        // Sign-extend the 24-bit value through the top of a 32-bit word.
        const uint32_t word
            = static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 24;
        const int32_t v = static_cast<int32_t>(word) >> 8;
        return static_cast<float>(static_cast<double>(v) / 8388608.0);
    }
    case 32:
        return static_cast<float>(static_cast<double>(static_cast<int32_t>(le32(p))) / 2147483648.0);
    default:
        return 0.0f;
    }
}

} // namespace

bool readWav(std::span<const uint8_t> bytes, std::vector<float>& left, std::vector<float>& right, uint32_t& sampleRate)
{
    left.clear();
    right.clear();
    const size_t size = bytes.size();
    if (size < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0)
        return false;
    // The RIFF size and the form type are not checked: writers get them wrong.
    size_t at = 12;
    Format fmt;
    while (size - at >= 8) {
        const uint8_t* chunk = bytes.data() + at;
        const uint32_t chunkSize = le32(chunk + 4);
        at += 8;
        const size_t remaining = size - at;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            // A format chunk too short for its fields does not count as seen.
            if (chunkSize >= 16 && remaining >= 16) {
                const uint8_t* f = bytes.data() + at;
                fmt.seen = true;
                fmt.tag = le16(f);
                fmt.channels = le16(f + 2);
                fmt.sampleRate = le32(f + 4);
                fmt.bits = le16(f + 14);
                if (fmt.tag == kTagExtensible && chunkSize >= 40 && remaining >= 40)
                    fmt.tag = le16(f + 24); // the first two bytes of the subformat
            }
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!fmt.seen || fmt.channels < 1 || fmt.channels > 2 || fmt.bits < 16 || fmt.bits > 64 || fmt.bits % 8 != 0
                || (fmt.tag != kTagPcm && fmt.tag != kTagFloat))
                return false;
            const size_t dataBytes = std::min<size_t>(chunkSize, remaining);
            const size_t width = fmt.bits / 8u;
            const size_t frameBytes = width * fmt.channels;
            const size_t frames = dataBytes / frameBytes;
            left.resize(frames);
            right.resize(frames);
            const uint8_t* p = bytes.data() + at;
            for (size_t i = 0; i < frames; ++i, p += frameBytes) {
                left[i] = sampleAt(p, fmt.tag, fmt.bits);
                right[i] = fmt.channels == 2 ? sampleAt(p + width, fmt.tag, fmt.bits) : left[i];
            }
            sampleRate = fmt.sampleRate;
            return true;
        }
        // Skip the chunk and its pad byte; a size beyond the file ends the walk.
        const size_t skip = static_cast<size_t>(chunkSize) + (chunkSize & 1u);
        if (skip > remaining)
            break;
        at += skip;
    }
    return false;
}

bool readWav(platform::Files& files, const std::wstring& path, std::vector<float>& left, std::vector<float>& right,
    uint32_t& sampleRate)
{
    const auto bytes = files.readAll(path);
    if (!bytes) {
        left.clear();
        right.clear();
        return false;
    }
    return readWav(std::span<const uint8_t>(*bytes), left, right, sampleRate);
}

} // namespace media
