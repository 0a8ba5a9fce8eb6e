#pragma once
// Builds WAV files in memory for the reader's tests: a RIFF header, any
// chunks, and helpers for the usual format and data chunks.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace media::testing {

inline void putLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A chunk: identifier, declared size (the real size unless given), body, pad byte when odd.
inline std::vector<uint8_t> chunk(const char* id, const std::vector<uint8_t>& body, int64_t declaredSize = -1)
{
    std::vector<uint8_t> out(id, id + 4);
    putLe(out, declaredSize < 0 ? body.size() : static_cast<uint64_t>(declaredSize), 4);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0)
        out.push_back(0);
    return out;
}

inline std::vector<uint8_t> fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    std::vector<uint8_t> b;
    putLe(b, tag, 2);
    putLe(b, channels, 2);
    putLe(b, rate, 4);
    putLe(b, uint64_t(rate) * channels * bits / 8, 4);
    putLe(b, uint64_t(channels) * bits / 8, 2);
    putLe(b, bits, 2);
    return b;
}

// "RIFF", a size, "WAVE", then the chunks as given.
inline std::vector<uint8_t> riff(const std::vector<std::vector<uint8_t>>& chunks)
{
    std::vector<uint8_t> body{'W', 'A', 'V', 'E'};
    for (const auto& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    std::vector<uint8_t> out{'R', 'I', 'F', 'F'};
    putLe(out, body.size(), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A 32-bit float WAV of interleaved channels.
inline std::vector<uint8_t> floatWav(uint32_t rate, const std::vector<float>& left, const std::vector<float>& right)
{
    std::vector<uint8_t> data;
    data.reserve(left.size() * 8);
    for (size_t i = 0; i < left.size(); ++i)
        for (float v : {left[i], right[i]}) {
            uint32_t u;
            std::memcpy(&u, &v, 4);
            putLe(data, u, 4);
        }
    return riff({chunk("fmt ", fmtBody(3, 2, rate, 32)), chunk("data", data)});
}

} // namespace media::testing
