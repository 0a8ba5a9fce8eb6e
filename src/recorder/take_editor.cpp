#include "recorder/take_editor.h"

#include "media/time_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <numbers>

namespace recorder {

namespace {

constexpr double kRate = 48000.0;

// A quarter sine rising over n frames, at frame index i (+ 0.5: centred).
double quarterSine(double i, double n)
{
    return std::clamp(std::sin((i + 0.5) / n * (std::numbers::pi / 2.0)), 0.0, 1.0);
}

int64_t totalLength(const std::vector<Range>& segments)
{
    int64_t total = 0;
    for (const Range& r : segments)
        total += r.end - r.start;
    return total;
}

} // namespace

TakeEditor::TakeEditor(BusyFlags& flags, StatusSink status, engine::SoundPlayer& phones, engine::SoundPlayer& toMic,
    engine::EngineState& state)
    : flags_(flags), status_(std::move(status)), phones_(phones), toMic_(toMic), state_(state)
{ }

void TakeEditor::setTake(clip::SoundRef sound, bool announce)
{
    stopPlayback();
    ++takeCounter_;
    undo_.clear();
    redo_.clear();
    std::vector<Range> whole;
    if (sound && sound->frames() > 0)
        whole.push_back({0, static_cast<int64_t>(sound->frames())});
    source_ = std::move(sound);
    segments_ = std::move(whole);
    fadeIn_ = fadeOut_ = 0.0;
    viewStart_ = viewLength_ = 0.0; // the whole take
    rebuildView();
    if (announce)
        status_(L"Recorded " + media::timeText(seconds()));
}

bool TakeEditor::hasTake() const
{
    return source_ && !segments_.empty();
}

int64_t TakeEditor::length() const
{
    return length_;
}

double TakeEditor::seconds() const
{
    return static_cast<double>(length_) / kRate;
}

void TakeEditor::setSelection(double start, double end)
{
    selStart_ = start;
    selEnd_ = end;
    normalise();
}

void TakeEditor::setView(double start, double length)
{
    viewStart_ = start;
    viewLength_ = length;
    normalise();
}

void TakeEditor::zoom(int steps, double atSeconds)
{
    const double total = seconds();
    if (steps == 0 || total <= 0.0)
        return;
    const double at = std::clamp(std::isfinite(atSeconds) ? atSeconds : 0.0, 0.0, total);
    const double factor = std::pow(steps > 0 ? 0.78 : 1.28, std::abs(steps));
    const double along = viewLength_ > 0.0 ? (at - viewStart_) / viewLength_ : 0.0;
    // Limited before placing it, so that the time under the pointer stays put.
    const double length = std::clamp(viewLength_ * factor, std::min(0.25, total), total);
    viewStart_ = at - along * length;
    viewLength_ = length;
    normalise();
}

bool TakeEditor::cutSelection()
{
    if (!commandAllowed())
        return false;
    const int64_t s = std::max<int64_t>(std::llrint(selStart_ * kRate), 0);
    const int64_t e = std::min<int64_t>(std::llrint(selEnd_ * kRate), length_);
    if (s >= e || (s == 0 && e >= length_)) {
        status_(L"Select a portion of the waveform first");
        return false;
    }
    std::vector<Range> kept = extract(0, s);
    const std::vector<Range> tail = extract(e, length_);
    kept.insert(kept.end(), tail.begin(), tail.end());
    commit(std::move(kept));
    status_(L"Cut selection");
    return true;
}

bool TakeEditor::keepSelection()
{
    if (!commandAllowed())
        return false;
    const int64_t s = std::max<int64_t>(std::llrint(selStart_ * kRate), 0);
    const int64_t e = std::min<int64_t>(std::llrint(selEnd_ * kRate), length_);
    if (s >= e || (s == 0 && e >= length_)) {
        status_(L"Select a portion of the waveform first");
        return false;
    }
    commit(extract(s, e));
    status_(L"Kept selection");
    return true;
}

bool TakeEditor::trimSilence()
{
    if (!commandAllowed())
        return false;
    const std::vector<Range> found = findSilences(*source_, segments_);
    // Only ordered, disjoint ranges inside the timeline are removed, and
    // never all of it; anything else leaves the take as it is.
    std::vector<Range> kept;
    int64_t done = 0;
    int removed = 0;
    bool usable = !found.empty();
    for (const Range& r : found) {
        if (r.start < done || r.end < r.start || r.end > length_) {
            usable = false;
            break;
        }
        if (r.start == r.end)
            continue;
        const std::vector<Range> piece = extract(done, r.start);
        kept.insert(kept.end(), piece.begin(), piece.end());
        done = r.end;
        ++removed;
    }
    if (usable) {
        const std::vector<Range> piece = extract(done, length_);
        kept.insert(kept.end(), piece.begin(), piece.end());
    }
    if (!usable || removed == 0 || kept.empty()) {
        status_(L"No silence found to cut");
        return false;
    }
    commit(std::move(kept));
    status_(L"Removed " + std::to_wstring(removed) + L" silent section(s)");
    return true;
}

bool TakeEditor::undo()
{
    return restore(undo_, redo_, L"Undone");
}

bool TakeEditor::redo()
{
    return restore(redo_, undo_, L"Redone");
}

bool TakeEditor::restore(std::vector<Entry>& from, std::vector<Entry>& to, const wchar_t* text)
{
    if (!commandAllowed() || from.empty())
        return false;
    to.push_back({source_, std::move(segments_)});
    Entry entry = std::move(from.back());
    from.pop_back();
    install(std::move(entry.source), std::move(entry.segments));
    status_(text);
    return true;
}

void TakeEditor::stepFade(bool fadeIn, int direction)
{
    double& fade = fadeIn ? fadeIn_ : fadeOut_;
    // Counted in whole steps, so that repeated presses cannot drift off the grid.
    const long long steps = std::llround(fade / kFadeStepSeconds) + (direction > 0) - (direction < 0);
    const long long most = std::llround(kMaxFadeSeconds / kFadeStepSeconds);
    fade = static_cast<double>(std::clamp(steps, 0LL, most)) * kFadeStepSeconds;
}

void TakeEditor::play(bool toMic)
{
    if (!commandAllowed())
        return;
    if (playing(toMic)) {
        stopPlayback();
        return;
    }
    stopPlayback();
    const double total = seconds();
    const bool part = selEnd_ - selStart_ > 0.02 && (selStart_ > 0.01 || selEnd_ < total - 0.01);
    const int64_t a = part ? std::llrint(selStart_ * kRate) : 0;
    const int64_t b = part ? std::llrint(selEnd_ * kRate) : length_;
    clip::SoundRef sound;
    try {
        sound = render(a, b);
    } catch (const std::bad_alloc&) {
        return; // nothing to play; the take is untouched
    }
    if (!sound || sound->frames() == 0)
        return;
    playFrames_ = sound->frames();
    playOrigin_ = static_cast<double>(a) / kRate;
    preview_ = toMic ? Preview::Mic : Preview::Phones;
    // Raised before the sound is queued, so the monitor is open by the time it plays.
    state_.previewNeedsMonitor.store(1);
    (toMic ? toMic_ : phones_).play(0, std::move(sound));
}

void TakeEditor::stopPlayback()
{
    if (preview_ == Preview::Phones)
        phones_.stop(0);
    else if (preview_ == Preview::Mic)
        toMic_.stop(0);
    preview_ = Preview::None;
    state_.previewNeedsMonitor.store(0);
}

bool TakeEditor::playing(bool toMic) const
{
    if (preview_ != (toMic ? Preview::Mic : Preview::Phones))
        return false;
    return (toMic ? toMic_ : phones_).playing();
}

std::optional<double> TakeEditor::playCursor() const
{
    if (preview_ == Preview::None || !playing(preview_ == Preview::Mic))
        return std::nullopt;
    const engine::SoundPlayer& player = preview_ == Preview::Mic ? toMic_ : phones_;
    const int64_t position = std::min<int64_t>(player.position(0), playFrames_);
    return playOrigin_ + static_cast<double>(position) / kRate;
}

void TakeEditor::clear()
{
    stopPlayback();
    ++takeCounter_;
    source_.reset();
    segments_.clear();
    undo_.clear();
    redo_.clear();
    length_ = 0;
    peaksSource_.reset();
    blockPeaks_.clear();
    outline_ = {};
    outlineStale_ = false;
    selStart_ = selEnd_ = viewStart_ = viewLength_ = 0.0;
    fadeIn_ = fadeOut_ = 0.0;
    status_(L"Press Record or click Last buffer to edit waveform");
}

clip::SoundRef TakeEditor::render(int64_t a, int64_t b, bool userFades) const
{
    auto out = std::make_shared<clip::Sound>();
    a = std::max<int64_t>(a, 0);
    b = std::min(b, length_);
    if (!source_ || a >= b)
        return out;
    const double total = static_cast<double>(length_);
    const auto fadeFrames = [&](double seconds) {
        return static_cast<double>(
            std::max<int64_t>(std::llrint((userFades ? seconds : 0.0) * kRate), kJointFadeFrames));
    };
    double fadeIn = fadeFrames(fadeIn_);
    double fadeOut = fadeFrames(fadeOut_);
    if (fadeIn + fadeOut > total) {
        const double scale = total / (fadeIn + fadeOut);
        fadeIn *= scale;
        fadeOut *= scale;
    }
    const double dip = static_cast<double>(kJointFadeFrames);
    out->samples.resize(static_cast<size_t>(b - a) * 2);
    const int16_t* in = source_->samples.data();
    int16_t* to = out->samples.data();
    int64_t offset = 0;
    for (size_t i = 0; i < segments_.size() && offset < b; ++i) {
        const Range& r = segments_[i];
        const int64_t len = r.end - r.start;
        const int64_t from = std::max(a, offset);
        const int64_t until = std::min(b, offset + len);
        const bool first = i == 0;
        const bool last = i + 1 == segments_.size();
        for (int64_t j = from; j < until; ++j) {
            const int64_t k = j - offset;
            double gain = 1.0;
            if (static_cast<double>(j) < fadeIn)
                gain *= quarterSine(static_cast<double>(j), fadeIn);
            if (static_cast<double>(length_ - j) <= fadeOut)
                gain *= quarterSine(static_cast<double>(length_ - j - 1), fadeOut);
            if (!first && k < kJointFadeFrames)
                gain *= quarterSine(static_cast<double>(k), dip);
            if (!last && len - k <= kJointFadeFrames)
                gain *= quarterSine(static_cast<double>(len - k - 1), dip);
            const int16_t* src = in + (r.start + k) * 2;
            int16_t* dst = to + (j - a) * 2;
            if (gain == 1.0) {
                dst[0] = src[0];
                dst[1] = src[1];
            } else {
                dst[0] = static_cast<int16_t>(std::lround(src[0] * gain));
                dst[1] = static_cast<int16_t>(std::lround(src[1] * gain));
            }
        }
        offset += len;
    }
    return out;
}

std::optional<SaveRequest> TakeEditor::save(const std::wstring& path, int32_t format)
{
    if (!commandAllowed())
        return std::nullopt;
    clip::SoundRef sound;
    try {
        sound = render(0, length_);
    } catch (const std::bad_alloc&) {
        status_(L"Save failed");
        return std::nullopt;
    }
    if (!sound || sound->frames() == 0)
        return std::nullopt;
    flags_.saving = true;
    status_(L"Saving clip...");
    return SaveRequest{std::move(sound), path, format, L"Saved: ", true};
}

void TakeEditor::replaceSound(clip::SoundRef sound, bool inPlace)
{
    if (!sound || sound->frames() == 0)
        return;
    if (!inPlace && source_)
        undo_.push_back({source_, segments_});
    redo_.clear();
    const int64_t frames = sound->frames();
    install(std::move(sound), {{0, frames}});
}

bool TakeEditor::commandAllowed() const
{
    return !flags_.busy() && hasTake();
}

std::vector<Range> TakeEditor::extract(int64_t a, int64_t b) const
{
    std::vector<Range> out;
    int64_t offset = 0;
    for (const Range& r : segments_) {
        if (offset >= b)
            break;
        const int64_t len = r.end - r.start;
        const int64_t from = std::max(a, offset);
        const int64_t until = std::min(b, offset + len);
        if (from < until)
            out.push_back({r.start + (from - offset), r.start + (until - offset)});
        offset += len;
    }
    return out;
}

void TakeEditor::commit(std::vector<Range> segments)
{
    std::vector<Range> merged;
    merged.reserve(segments.size());
    for (const Range& r : segments) {
        if (r.start >= r.end)
            continue;
        if (!merged.empty() && merged.back().end == r.start)
            merged.back().end = r.end;
        else
            merged.push_back(r);
    }
    undo_.push_back({source_, std::move(segments_)});
    redo_.clear();
    install(source_, std::move(merged));
}

void TakeEditor::install(clip::SoundRef source, std::vector<Range> segments)
{
    stopPlayback();
    source_ = std::move(source);
    segments_ = std::move(segments);
    rebuildView();
}

void TakeEditor::rebuildView()
{
    length_ = totalLength(segments_);
    outlineStale_ = true;
    selStart_ = 0.0;
    selEnd_ = seconds();
    normalise();
}

void TakeEditor::normalise()
{
    const double total = seconds();
    const auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };
    selStart_ = std::clamp(finite(selStart_), 0.0, total);
    selEnd_ = std::clamp(finite(selEnd_), 0.0, total);
    if (selStart_ > selEnd_)
        std::swap(selStart_, selEnd_);
    if (!(viewLength_ > 0.0) || viewLength_ > total) // unset, too long or not a number
        viewLength_ = total;
    viewLength_ = std::max(viewLength_, std::min(0.25, total));
    viewStart_ = std::clamp(finite(viewStart_), 0.0, total - viewLength_);
}

const TakeOutline& TakeEditor::outline() const
{
    if (!outlineStale_)
        return outline_;
    outlineStale_ = false;
    outline_ = {};
    if (!source_)
        return outline_;
    if (peaksSource_ != source_) {
        const size_t frames = source_->frames();
        blockPeaks_.assign((frames + kPeakBlock - 1) / kPeakBlock, 0);
        const int16_t* s = source_->samples.data();
        for (size_t i = 0; i < frames * 2; ++i) {
            uint16_t& peak = blockPeaks_[i / 2 / kPeakBlock];
            peak = std::max(peak, static_cast<uint16_t>(std::abs(int32_t{s[i]})));
        }
        peaksSource_ = source_;
    }
    outline_.seconds = seconds();
    outline_.peaks.resize(static_cast<size_t>((length_ + kOutlineBucket - 1) / kOutlineBucket));
    size_t seg = 0;
    int64_t segStart = 0; // timeline frame where segments_[seg] begins
    for (size_t p = 0; p < outline_.peaks.size(); ++p) {
        const int64_t a = static_cast<int64_t>(p) * kOutlineBucket;
        const int64_t b = std::min(a + kOutlineBucket, length_);
        int32_t peak = 0;
        for (int64_t t = a; t < b;) {
            while (segStart + (segments_[seg].end - segments_[seg].start) <= t) {
                segStart += segments_[seg].end - segments_[seg].start;
                ++seg;
            }
            const int64_t until = std::min(b, segStart + (segments_[seg].end - segments_[seg].start));
            const int64_t from = segments_[seg].start + (t - segStart);
            peak = std::max(peak, sourcePeak(from, from + (until - t)));
            t = until;
        }
        outline_.peaks[p] = static_cast<float>(peak) / 32768.0f;
    }
    return outline_;
}

int32_t TakeEditor::sourcePeak(int64_t start, int64_t end) const
{
    const int16_t* s = source_->samples.data();
    int32_t peak = 0;
    const auto frame = [&](int64_t f) {
        peak = std::max({peak, std::abs(int32_t{s[f * 2]}), std::abs(int32_t{s[f * 2 + 1]})});
    };
    int64_t f = start;
    for (; f < end && f % kPeakBlock != 0; ++f)
        frame(f);
    for (; f + kPeakBlock <= end; f += kPeakBlock)
        peak = std::max(peak, int32_t{blockPeaks_[static_cast<size_t>(f / kPeakBlock)]});
    for (; f < end; ++f)
        frame(f);
    return peak;
}

} // namespace recorder
