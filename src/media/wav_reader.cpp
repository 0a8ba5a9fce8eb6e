#include "media/wav_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace media {

namespace {

uint16_t le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;

float sampleAt(const uint8_t* p, uint16_t tag, uint16_t bits)
{
    if (tag == kTagFloat) {
        if (bits == 32) {
            const uint32_t u = le32(p);
            float f;
            std::memcpy(&f, &u, 4);
            return f;
        }
        if (bits == 64) {
            const uint64_t u = uint64_t{le32(p)} | (uint64_t{le32(p + 4)} << 32);
            double d;
            std::memcpy(&d, &u, 8);
            return static_cast<float>(d);
        }
        return 0.0f;
    }
    switch (bits) {
    case 16:
        return static_cast<float>(static_cast<int16_t>(le16(p))) * (1.0f / 32768.0f);
    case 24: {
        // Three bytes only (the last sample ends the file), sign-extended.
        const uint32_t u = uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
        const int32_t v = static_cast<int32_t>(u << 8) >> 8;
        return static_cast<float>(v * (1.0 / 8388608.0));
    }
    case 32:
        return static_cast<float>(static_cast<int32_t>(le32(p)) * (1.0 / 2147483648.0));
    default:
        return 0.0f;
    }
}

} // namespace

bool parseWav(std::span<const uint8_t> bytes, WavAudio& audio)
{
    audio = WavAudio{};
    const size_t size = bytes.size();
    if (size < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0)
        return false;
    // The RIFF size and form type are not checked: files in the wild get them wrong.
    size_t at = 12;
    bool haveFormat = false;
    uint16_t tag = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    while (at + 8 <= size) {
        const uint8_t* id = bytes.data() + at;
        const uint32_t chunkSize = le32(id + 4);
        at += 8;
        const size_t left = size - at;
        if (std::memcmp(id, "fmt ", 4) == 0) {
            // A format chunk too short to hold the basic fields is no format.
            if (chunkSize >= 16 && left >= 16) {
                const uint8_t* f = bytes.data() + at;
                tag = le16(f);
                channels = le16(f + 2);
                rate = le32(f + 4);
                bits = le16(f + 14);
                if (tag == kTagExtensible && chunkSize >= 40 && left >= 40)
                    tag = le16(f + 24);
                haveFormat = true;
            }
        } else if (std::memcmp(id, "data", 4) == 0) {
            if (!haveFormat || channels < 1 || channels > 2 || bits < 16 || bits > 64 || bits % 8 != 0
                || (tag != kTagPcm && tag != kTagFloat))
                return false;
            // A size that reads as negative means "to the end of the file".
            const uint64_t declared = static_cast<int32_t>(chunkSize) < 0 ? uint64_t{0x7FFFFFFF} : chunkSize;
            const size_t dataBytes = static_cast<size_t>(std::min<uint64_t>(declared, left));
            const size_t bytesPerSample = bits / 8;
            const size_t frames = dataBytes / bytesPerSample / channels;
            audio.left.resize(frames);
            audio.right.resize(frames);
            const uint8_t* p = bytes.data() + at;
            for (size_t i = 0; i < frames; ++i) {
                const float l = sampleAt(p, tag, bits);
                const float r = channels == 2 ? sampleAt(p + bytesPerSample, tag, bits) : l;
                audio.left[i] = l;
                audio.right[i] = r;
                p += bytesPerSample * channels;
            }
            audio.sampleRate = rate;
            audio.channels = channels;
            audio.bitsPerSample = bits;
            audio.isFloat = tag == kTagFloat;
            return true;
        }
        const uint64_t skip = uint64_t{chunkSize} + (chunkSize & 1u);
        if (skip > left)
            break;
        at += static_cast<size_t>(skip);
    }
    return false;
}

bool readWav(platform::Files& files, const std::wstring& path, WavAudio& audio)
{
    const auto bytes = files.readAll(path);
    if (!bytes) {
        audio = WavAudio{};
        return false;
    }
    return parseWav(*bytes, audio);
}

bool readWav(std::span<const uint8_t> bytes, std::vector<float>& left, std::vector<float>& right,
             uint32_t& sampleRate)
{
    WavAudio audio;
    const bool ok = parseWav(bytes, audio);
    left = std::move(audio.left);
    right = std::move(audio.right);
    sampleRate = audio.sampleRate;
    return ok;
}

bool readWav(platform::Files& files, const std::wstring& path, std::vector<float>& left, std::vector<float>& right,
             uint32_t& sampleRate)
{
    WavAudio audio;
    const bool ok = readWav(files, path, audio);
    left = std::move(audio.left);
    right = std::move(audio.right);
    sampleRate = audio.sampleRate;
    return ok;
}

} // namespace media
