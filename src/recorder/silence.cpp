#include "recorder/silence.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace recorder {

namespace {

constexpr double kFloorDb = -52.0;
constexpr double kCeilingDb = -26.0;
constexpr double kMarginDb = 24.0;

// Levels in dB of full scale of the timeline's consecutive windows.
std::vector<double> windowLevels(const clip::Sound& sound, std::span<const Range> segments)
{
    std::vector<double> levels;
    int64_t energy = 0; // sum of L² + R²
    int64_t inWindow = 0;
    auto close = [&] {
        const double mean = static_cast<double>(energy) / 2.0 / static_cast<double>(inWindow);
        levels.push_back(10.0 * std::log10(mean * std::ldexp(1.0, -30) + 1e-12));
        energy = 0;
        inWindow = 0;
    };
    const int64_t frames = sound.frames();
    for (const Range& segment : segments) {
        const int64_t end = std::min(segment.end, frames);
        for (int64_t f = std::max<int64_t>(segment.start, 0); f < end; ++f) {
            const int64_t l = sound.samples[static_cast<size_t>(f) * 2];
            const int64_t r = sound.samples[static_cast<size_t>(f) * 2 + 1];
            energy += l * l + r * r;
            if (++inWindow == kSilenceWindow)
                close();
        }
    }
    if (inWindow > 0)
        close();
    return levels;
}

// A quarter-sine ramp over length frames, at position (frames from the edge + 0.5).
double ramp(double position, double length)
{
    return std::clamp(std::sin(position / length * std::numbers::pi / 2.0), 0.0, 1.0);
}

} // namespace

std::vector<Range> findSilences(const clip::Sound& sound, std::span<const Range> segments)
{
    const std::vector<double> levels = windowLevels(sound, segments);
    int64_t total = 0;
    for (const Range& segment : segments)
        total += std::max<int64_t>(0, std::min<int64_t>(segment.end, sound.frames()) - std::max<int64_t>(segment.start, 0));
    if (levels.empty() || total < kMinSilence)
        return {};

    std::vector<double> sorted = levels;
    const size_t rank = std::min(sorted.size() * 98 / 100, sorted.size() - 1);
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank), sorted.end());
    const double threshold = std::max(kFloorDb, std::min(sorted[rank] - kMarginDb, kCeilingDb));

    std::vector<Range> removals;
    const auto count = static_cast<int64_t>(levels.size());
    for (int64_t a = 0; a < count;) {
        if (levels[static_cast<size_t>(a)] >= threshold) {
            ++a;
            continue;
        }
        int64_t b = a;
        while (b < count && levels[static_cast<size_t>(b)] < threshold)
            ++b;
        const int64_t s = a * kSilenceWindow;
        const int64_t e = std::min(b * kSilenceWindow, total);
        const int64_t length = e - s;
        a = b;
        if (length < kMinSilence || (s == 0 && e == total))
            continue;
        Range cut;
        if (s == 0)
            cut = {0, e - std::min(kEdgePad, e)};
        else if (e == total)
            cut = {s + std::min(kEdgePad, length), total};
        else
            cut = {s + kInnerPad, e - kInnerPad};
        if (cut.end > cut.start)
            removals.push_back(cut);
    }
    return removals;
}

clip::SoundRef removeQuiet(const clip::SoundRef& sound)
{
    if (!sound || sound->frames() < kMinSilence)
        return sound;
    const int64_t frames = sound->frames();
    const Range whole{0, frames};
    const std::vector<Range> removals = findSilences(*sound, std::span(&whole, 1));
    if (removals.empty())
        return sound;

    std::vector<Range> pieces;
    int64_t at = 0;
    for (const Range& cut : removals) {
        if (cut.start > at)
            pieces.push_back({at, cut.start});
        at = cut.end;
    }
    if (at < frames)
        pieces.push_back({at, frames});

    int64_t kept = 0;
    for (const Range& piece : pieces)
        kept += piece.end - piece.start;
    // The ends fade over 3 ms, or over half of an excerpt too short for two of them.
    const int64_t edge = kept < 2 * kJointFadeFrames ? kept * kJointFadeFrames / (2 * kJointFadeFrames) : kJointFadeFrames;

    auto out = std::make_shared<clip::Sound>();
    out->samples.resize(static_cast<size_t>(kept) * 2);
    int64_t k = 0; // output frame at the piece's start
    for (size_t p = 0; p < pieces.size(); ++p) {
        const int64_t length = pieces[p].end - pieces[p].start;
        const int16_t* from = sound->samples.data() + pieces[p].start * 2;
        int16_t* to = out->samples.data() + k * 2;
        auto faded = [&](int64_t j) {
            const int64_t frame = k + j;
            double gain = 1.0;
            if (frame < edge)
                gain *= ramp(static_cast<double>(frame) + 0.5, static_cast<double>(edge));
            if (kept - frame <= edge)
                gain *= ramp(static_cast<double>(kept - frame) - 0.5, static_cast<double>(edge));
            if (p > 0 && j < kJointFadeFrames)
                gain *= ramp(static_cast<double>(j) + 0.5, kJointFadeFrames);
            if (p + 1 < pieces.size() && length - j <= kJointFadeFrames)
                gain *= ramp(static_cast<double>(length - j) - 0.5, kJointFadeFrames);
            for (int64_t c = 0; c < 2; ++c)
                to[j * 2 + c] = static_cast<int16_t>(std::lround(from[j * 2 + c] * gain));
        };
        // Only the frames near a cut or an end are faded; the rest are copied.
        const int64_t plainFrom = std::max(p > 0 ? kJointFadeFrames : 0, edge - k);
        const int64_t plainTo = std::min(length - (p + 1 < pieces.size() ? kJointFadeFrames : 0), kept - edge - k);
        if (plainFrom < plainTo) {
            for (int64_t j = 0; j < plainFrom; ++j)
                faded(j);
            std::copy(from + plainFrom * 2, from + plainTo * 2, to + plainFrom * 2);
            for (int64_t j = plainTo; j < length; ++j)
                faded(j);
        } else {
            for (int64_t j = 0; j < length; ++j)
                faded(j);
        }
        k += length;
    }
    return out;
}

} // namespace recorder
