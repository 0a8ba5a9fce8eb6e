#include "ui/trim_window.h"

#include "ui/clip_tab.h"
#include "ui/control_panel.h"
#include "ui/theme.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>

namespace ui {

using namespace theme;

namespace {

constexpr uint32_t kOutlineRate = 48000;
constexpr int32_t kOutlinePointsPerSecond = 200;
constexpr double kMaxZoom = 64.0;
constexpr double kZoomStep = 1.25; // per wheel notch

constexpr Rect kTitle{16, 14, 528, 24};
constexpr Rect kStartLabel{16, 184, 72, 24};
constexpr Rect kEndLabel{204, 184, 64, 24};
constexpr Rect kLength{384, 184, 160, 24};
constexpr Rect kHint{16, 216, 528, 20};
constexpr Rect kPreview{16, 252, 96, 24};
constexpr Rect kReset{120, 252, 96, 24};
constexpr Rect kSave{344, 252, 96, 24};
constexpr Rect kCancel{448, 252, 96, 24};

} // namespace

double secondsFromText(std::wstring_view text)
{
    const std::wstring s(text);
    wchar_t* end = nullptr;
    const double v = std::wcstod(s.c_str(), &end);
    if (end == s.c_str() || !std::isfinite(v))
        return 0.0;
    // Only blanks may follow the number.
    for (; *end; ++end)
        if (!std::iswspace(static_cast<wint_t>(*end)))
            return 0.0;
    return v;
}

std::wstring secondsText(double seconds)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%.2f", seconds);
    return text;
}

namespace {

// The waveform: the whole file (or its zoomed part) with the range lit; a
// press starts a new range that the drag stretches.
class TrimWave final : public Control {
public:
    explicit TrimWave(TrimWindow& w) : w_(w) { bounds = kTrimWave; }
    bool focusable() const override { return false; }
    std::function<void(double, double)> setRange;
    std::function<void()> dragEnded;
    std::function<void(Point, float)> onWheel;
    std::function<void(Painter&)> draw;
    std::function<uint64_t()> look;

    void paint(Painter& painter, const ControlLook&) const override { draw(painter); }
    void press(Point p) override
    {
        if (w_.duration() <= 0)
            return;
        anchor_ = w_.secondsAt(p.x);
        dragging_ = true;
        setRange(anchor_, anchor_);
    }
    void drag(Point p) override
    {
        if (dragging_)
            setRange(anchor_, w_.secondsAt(p.x));
    }
    void release(Point, bool) override
    {
        if (dragging_)
            dragEnded();
        dragging_ = false;
    }
    bool wheelAt(Point p, float notches) override
    {
        onWheel(p, notches);
        return true;
    }
    uint64_t state() const override { return look(); }

private:
    TrimWindow& w_;
    double anchor_ = 0.0;
    bool dragging_ = false;
};

} // namespace

struct TrimWindow::Impl {
    Impl(TrimWindow& self, soundboard::Soundboard& b, settings::Settings& s, WindowHost& h, int p)
        : board(b), host(h), pad(p), panel(s, {kTrimWindowWidth, kTrimWindowHeight}), wave(nullptr)
    {
        (void)self;
    }

    soundboard::Soundboard& board;
    WindowHost& host;
    int pad;
    ControlPanel panel;
    TrimWave* wave;
    clip::OutlineRef outline;
    std::wstring message; // why the outline could not be built
    bool loading = true;
    soundboard::TrimRange range;
    uint32_t serial = 0;
    double zoom = 1.0;
    double viewStart = 0.0; // seconds at the waveform's left edge
    bool closing = false;
    std::shared_ptr<std::atomic<uint8_t>> cancel = std::make_shared<std::atomic<uint8_t>>(0);
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    double duration() const { return outline ? outline->seconds : 0.0; }
    double viewSeconds() const { return duration() / zoom; }
    void clampView() { viewStart = std::clamp(viewStart, 0.0, std::max(0.0, duration() - viewSeconds())); }
    float xOf(double t) const
    {
        const Rect r = kTrimWave.inset(4, 4);
        return r.x + static_cast<float>((t - viewStart) / viewSeconds()) * r.w;
    }
    void set(double start, double end, bool fields)
    {
        range = soundboard::normaliseTrim(start, end, duration());
        if (fields)
            ++serial;
    }
    void paintWave(Painter& p) const
    {
        const Rect frame = kTrimWave;
        p.fillRoundRect(frame, 4, mix(kCanvas, kPanel, 0.5f));
        p.frameRoundRect(frame, 4, kTrack, 1.0f);
        if (loading || !outline) {
            p.text(frame, loading ? L"Loading waveform..." : L"Could not read the waveform: " + message, TextRole::Body,
                kTextDim, Align::Centre);
            return;
        }
        const Rect r = frame.inset(4, 4);
        const float x0 = xOf(range.start), x1 = xOf(range.end);
        p.pushClip(r);
        p.fillRect({x0, r.y, std::max(1.0f, x1 - x0), r.h}, mix(kCanvas, kAccent, 0.15f));
        // The whole file spread over the zoomed width, seen through the frame.
        const float fullW = r.w * static_cast<float>(zoom);
        const Rect full{r.x - static_cast<float>(viewStart / duration()) * fullW, r.y, fullW, r.h};
        paintClipOutline(p, full, *outline, 0.0, kAccent, kDisabled);
        p.pushClip({x0, r.y, std::max(1.0f, x1 - x0), r.h});
        paintClipOutline(p, full, *outline, 1.0, kAccent, kAccent);
        p.popClip();
        p.fillRect({x0 - 1, r.y, 2, r.h}, kText);
        p.fillRect({x1 - 1, r.y, 2, r.h}, kText);
        p.popClip();
    }
};

TrimWindow::TrimWindow(
    soundboard::Soundboard& board, settings::Settings& settings, WindowHost& host, platform::Media& media, int pad)
    : impl_(std::make_unique<Impl>(*this, board, settings, host, pad))
{
    Impl& w = *impl_;
    auto wave = std::make_unique<TrimWave>(*this);
    wave->tooltip = L"Drag to choose the part the pad plays; the wheel zooms";
    wave->setRange = [this](double a, double b) { impl_->set(std::min(a, b), std::max(a, b), true); };
    wave->dragEnded = [] {};
    wave->onWheel = [this](Point p, float notches) {
        Impl& v = *impl_;
        if (v.duration() <= 0)
            return;
        const double at = secondsAt(p.x);
        v.zoom = std::clamp(v.zoom * std::pow(kZoomStep, notches), 1.0, kMaxZoom);
        // The second under the pointer stays under it.
        const Rect r = kTrimWave.inset(4, 4);
        v.viewStart = at - static_cast<double>((p.x - r.x) / r.w) * v.viewSeconds();
        v.clampView();
    };
    wave->draw = [this](Painter& p) { impl_->paintWave(p); };
    wave->look = [this] {
        const Impl& v = *impl_;
        return static_cast<uint64_t>(v.range.start * 1000) * 1000003 + static_cast<uint64_t>(v.range.end * 1000)
            + static_cast<uint64_t>(v.zoom * 100) * 7919 + static_cast<uint64_t>(v.viewStart * 1000) * 31
            + (v.loading ? 1 : 0);
    };
    w.wave = w.panel.add(std::move(wave));
    auto button = [&](const wchar_t* label, Rect r, const wchar_t* tip, void (TrimWindow::*action)(), bool needsSound,
                      ButtonStyle style = ButtonStyle::Plain) {
        auto b = std::make_unique<Button>();
        b->label = label;
        b->bounds = r;
        b->tooltip = tip;
        b->style = style;
        b->onClick = [this, action] { (this->*action)(); };
        if (needsSound)
            b->isEnabled = [this] { return impl_->duration() > 0; };
        return w.panel.add(std::move(b));
    };
    button(L"Preview", kPreview, L"Play the chosen part; click again to stop", &TrimWindow::preview, true)->dynamicLabel
        = [this] { return std::wstring(impl_->board.playing(soundboard::kPreviewId) ? L"Stop" : L"Preview"); };
    button(L"Reset", kReset, L"Back to the start, up to 20 seconds", &TrimWindow::reset, true);
    button(L"Save", kSave, L"Keep this part for the pad", &TrimWindow::save, true, ButtonStyle::Primary);
    button(L"Cancel", kCancel, L"Close without changes", &TrimWindow::cancel, false);

    // The outline of the whole file, built on a worker; a closed dialog drops it.
    struct Result {
        clip::OutlineRef outline;
        std::wstring message;
    };
    auto result = std::make_shared<Result>();
    host.runInBackground(
        [&media, path = board.pad(pad).path, cancel = w.cancel, result] {
            result->outline = clip::buildOutline(
                media, path, kOutlineRate, kOutlinePointsPerSecond, nullptr, cancel.get(), result->message);
        },
        [this, alive = std::weak_ptr<int>(w.alive), result] {
            if (!alive.expired())
                outlineArrived(result->outline, result->message);
        });
}

TrimWindow::~TrimWindow()
{
    impl_->cancel->store(1);
}

void TrimWindow::outlineArrived(clip::OutlineRef outline, const std::wstring& message)
{
    Impl& w = *impl_;
    w.loading = false;
    w.outline = outline && outline->seconds > 0 ? outline : nullptr;
    w.message = message.empty() ? L"no sound in the file" : message;
    const soundboard::Pad& pad = w.board.pad(w.pad);
    const soundboard::TrimRange first = soundboard::initialTrim(pad.from, pad.to, w.duration());
    w.set(first.start, first.end, true);
}

void TrimWindow::fieldsEdited(std::wstring_view start, std::wstring_view end)
{
    impl_->set(secondsFromText(start), secondsFromText(end), false);
}

bool TrimWindow::fieldsShown() const
{
    return impl_->duration() > 0;
}
std::wstring TrimWindow::startText() const
{
    return secondsText(impl_->range.start);
}
std::wstring TrimWindow::endText() const
{
    return secondsText(impl_->range.end);
}
uint32_t TrimWindow::fieldSerial() const
{
    return impl_->serial;
}
soundboard::TrimRange TrimWindow::range() const
{
    return impl_->range;
}
double TrimWindow::duration() const
{
    return impl_->duration();
}
double TrimWindow::zoom() const
{
    return impl_->zoom;
}
double TrimWindow::secondsAt(float x) const
{
    const Impl& w = *impl_;
    const Rect r = kTrimWave.inset(4, 4);
    return std::clamp(w.viewStart + static_cast<double>((x - r.x) / r.w) * w.viewSeconds(), 0.0, w.duration());
}

void TrimWindow::paint(Painter& painter)
{
    Impl& w = *impl_;
    painter.fillRect({0, 0, kTrimWindowWidth, kTrimWindowHeight}, kCanvas);
    const soundboard::Pad& pad = w.board.pad(w.pad);
    painter.text(
        kTitle, L"Pad " + std::to_wstring(w.pad + 1) + L": " + pad.title, TextRole::Heading, kText, Align::Left);
    if (fieldsShown()) {
        painter.text(kStartLabel, L"Start (s):", TextRole::Body, kText, Align::Left);
        painter.text(kEndLabel, L"End (s):", TextRole::Body, kText, Align::Left);
        // The native fields lie over these frames.
        for (const Rect& f : {kTrimStartField, kTrimEndField})
            painter.frameRoundRect(f, 2, kBorder, 1.0f);
        wchar_t length[48];
        std::swprintf(length, 48, L"Length: %.2f s", w.range.end - w.range.start);
        painter.text(kLength, length, TextRole::Body, kText, Align::Left);
        painter.text(kHint, L"Drag on the waveform to choose the part; the wheel zooms in and out", TextRole::Small,
            kTextDim, Align::Left);
    }
    w.panel.paint(painter);
}

void TrimWindow::pointerMove(Point p)
{
    impl_->panel.pointerMove(p);
}
void TrimWindow::pointerDown(Point p)
{
    impl_->panel.pointerDown(p);
}
void TrimWindow::pointerUp(Point p)
{
    impl_->panel.pointerUp(p);
}
void TrimWindow::doubleClick(Point p)
{
    impl_->panel.doubleClick(p);
}
void TrimWindow::pointerLeave()
{
    impl_->panel.pointerLeave();
}
void TrimWindow::wheel(Point p, float notches)
{
    impl_->panel.wheel(p, notches);
}
bool TrimWindow::key(Key key, Modifiers modifiers)
{
    if (key == Key::Escape) {
        cancel();
        return true;
    }
    return impl_->panel.key(key, modifiers);
}
bool TrimWindow::tick(double seconds)
{
    return impl_->panel.tick(seconds);
}

void TrimWindow::preview()
{
    Impl& w = *impl_;
    if (w.board.playing(soundboard::kPreviewId))
        w.board.stopPreview();
    else if (duration() > 0)
        w.board.startPreview(w.board.pad(w.pad).path, w.range.start, w.range.end);
}

void TrimWindow::reset()
{
    impl_->set(0.0, std::min(duration(), soundboard::kMaxPadSeconds), true);
}

void TrimWindow::save()
{
    Impl& w = *impl_;
    if (duration() <= 0)
        return;
    w.board.saveTrim(w.pad, w.range.start, w.range.end);
    w.closing = true;
}

void TrimWindow::cancel()
{
    impl_->closing = true;
}

bool TrimWindow::closeRequested() const
{
    return impl_->closing;
}

} // namespace ui
