#pragma once
// Power-of-two delay rings: a buffer, a write counter and a mask. Positions are
// absolute counters masked on access, so readers can hold positions that keep
// growing and never wrap by hand. Memory is taken in prepare() only.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsp {

// The smallest power of two not below n (1 for n ≤ 1).
inline size_t ringLengthFor(size_t n)
{
    size_t length = 1;
    while (length < n)
        length <<= 1;
    return length;
}

// (1 − f)·y0 + f·y1.
inline double interpolateLinear(double y0, double y1, double f)
{
    return (1.0 - f) * y0 + f * y1;
}

// Four-point cubic (Catmull-Rom) between y0 and y1 at fraction f.
inline double interpolateCubic(double ym1, double y0, double y1, double y2, double f)
{
    const double c1 = (y1 - ym1) * 0.5;
    const double c2 = ym1 - 2.5 * y0 + 2.0 * y1 - 0.5 * y2;
    const double c3 = 1.5 * (y0 - y1) + 0.5 * (y2 - ym1);
    return ((c3 * f + c2) * f + c1) * f + y0;
}

// floor(t) as an index, without the library call the compiler emits for
// std::floor on the baseline instruction set: truncate, then step down for negatives.
inline int64_t floorIndex(double t)
{
    auto i = static_cast<int64_t>(t);
    if (static_cast<double>(i) > t)
        --i;
    return i;
}

template <typename T> class DelayRing {
public:
    // Allocates the smallest power of two not below needed + headroom, cleared.
    void prepare(size_t needed, size_t headroom = 0)
    {
        buffer_.assign(ringLengthFor(needed + headroom), T{});
        mask_ = buffer_.size() - 1;
        written_ = 0;
    }
    // Clears the contents and the write counter; keeps the memory.
    void reset() noexcept
    {
        for (T& v : buffer_)
            v = T{};
        written_ = 0;
    }

    size_t length() const { return buffer_.size(); }
    // Frames written so far: the position the next write goes to.
    int64_t writeCounter() const { return written_; }

    // Writes one value at the write counter and advances it.
    void write(T x) noexcept
    {
        buffer_[static_cast<size_t>(written_) & mask_] = x;
        ++written_;
    }
    // The value at an absolute position (masked).
    T at(int64_t position) const noexcept { return buffer_[static_cast<size_t>(position) & mask_]; }
    T& at(int64_t position) noexcept { return buffer_[static_cast<size_t>(position) & mask_]; }
    // The buffer and the slot of a position in it, for loops that have checked
    // once that their span of positions does not wrap.
    const T* data() const noexcept { return buffer_.data(); }
    T* data() noexcept { return buffer_.data(); }
    size_t slot(int64_t position) const noexcept { return static_cast<size_t>(position) & mask_; }
    // True when positions first .. last lie in one pass through the buffer.
    bool contiguous(int64_t first, int64_t last) const noexcept
    {
        return last >= first && slot(first) + static_cast<size_t>(last - first) <= mask_;
    }
    // Copies `count` (at most length()) values from position `first` on: at
    // most two straight runs instead of a masked read per value.
    void copyOut(int64_t first, size_t count, T* out) const noexcept
    {
        const size_t at = slot(first);
        const size_t head = std::min(count, buffer_.size() - at);
        std::copy_n(buffer_.data() + at, head, out);
        std::copy_n(buffer_.data(), count - head, out + head);
    }
    // The value written `delay` frames before the newest one (0 = newest).
    T delayed(int64_t delay) const noexcept { return at(written_ - 1 - delay); }

    // Linear read at a fractional absolute position t.
    double readLinear(double t) const noexcept
    {
        const double i = std::floor(t);
        const auto p = static_cast<int64_t>(i);
        return interpolateLinear(at(p), at(p + 1), t - i);
    }
    // Catmull-Rom read at a fractional absolute position t (uses t−1 .. t+2).
    double readCubic(double t) const noexcept
    {
        const double i = std::floor(t);
        const auto p = static_cast<int64_t>(i);
        return interpolateCubic(at(p - 1), at(p), at(p + 1), at(p + 2), t - i);
    }
    // Linear read `delay` frames (fractional) behind the newest value.
    double delayedLinear(double delay) const noexcept { return readLinear(static_cast<double>(written_ - 1) - delay); }

private:
    std::vector<T> buffer_ = std::vector<T>(1);
    size_t mask_ = 0;
    int64_t written_ = 0;
};

} // namespace dsp
