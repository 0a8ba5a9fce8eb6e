// Page 4, "Media & Recorder", its Sound Clip tab: the source (the native
// edit field, Browse, dropped files), the transport, the position bar over
// the waveform outline, the clip's speed, its level and where it goes.

#include "clip/source_check.h"
#include "settings/fields.h"
#include "ui/clip_tab.h"
#include "ui/main_window_impl.h"
#include "ui/pages.h"
#include "ui/theme.h"

#include <algorithm>
#include <cstdio>

namespace ui {

using settings::Settings;
using namespace theme;

namespace {

constexpr int kClipTab = 0;
constexpr int32_t kOutlineRate = 48000;
constexpr int32_t kOutlinePointsPerSecond = 200;
constexpr Rect kSourceHeading{kLeftX, kContentTop, 828, 24};
constexpr Rect kSpeedHeading{kLeftX, 352, kLeftW, 24};
constexpr Rect kRoutingHeading{kRightX, 352, kRightW, 24};

// The native field lies over this; the model keeps its place in the Tab
// order and its tooltip, and draws nothing of it.
class SourceFieldSpot final : public Control {
public:
    void paint(Painter&, const ControlLook&) const override { }
};

// The position bar: the waveform outline (when there is one) with the
// played part in the accent and the play position as a line, or a plain
// rail. A click or drag shows its target in the time text and seeks on the
// release; the keys seek at once.
class PositionBar final : public Control {
public:
    std::function<double()> position, duration;
    std::function<clip::OutlineRef()> outline;
    std::function<int32_t()> progress; // per mille while an outline is built, else -1
    std::function<void(double)> seek;

    // The value the time text shows while the pointer holds the bar, else -1.
    int32_t dragValue() const { return dragging_ ? dragValue_ : -1; }
    int32_t value() const { return dragging_ ? dragValue_ : clipPositionValue(position(), duration()); }
    Rect inner() const { return bounds.inset(8, 8); }
    int32_t valueAt(float x) const
    {
        const Rect r = inner();
        return static_cast<int32_t>(
            std::lround(std::clamp((x - r.x) / r.w, 0.0f, 1.0f) * static_cast<float>(kClipPositionSteps)));
    }

    void paint(Painter& painter, const ControlLook& look) const override
    {
        const bool active = enabled();
        painter.fillRoundRect(bounds, 4, mix(kCanvas, kPanel, 0.5f));
        painter.frameRoundRect(bounds, 4, active ? mix(kTrack, kAccent, look.hover) : kTrack, 1.0f);
        const Rect r = inner();
        const float fraction = static_cast<float>(value()) / kClipPositionSteps;
        const float x = r.x + fraction * r.w;
        const clip::OutlineRef o = outline();
        if (o && !o->peaks.empty()) {
            paintClipOutline(painter, r, *o, fraction, active ? kAccent : kBorder, kTrack);
        } else {
            const float cy = r.y + r.h / 2;
            const Rect rail{r.x, cy - 3, r.w, 6};
            if (active) {
                painter.fillRoundRect(rail, 3, kTrack);
                painter.fillRoundRect({rail.x, rail.y, x - rail.x, rail.h}, 3, kAccent);
            } else {
                // Dashed, as a disabled slider's rail.
                for (float x0 = rail.x; x0 < rail.right(); x0 += 8)
                    painter.fillRect({x0, rail.y + 1, std::min(4.0f, rail.right() - x0), rail.h - 2}, kDisabled);
            }
        }
        const int32_t building = progress();
        const Rect hint{r.x, r.bottom() - 16, r.w, 16};
        if (building >= 0) {
            wchar_t text[64];
            std::swprintf(text, 64, L"Reading the waveform... %d %%", building / 10);
            painter.text(hint, text, TextRole::Small, kTextDim, Align::Centre);
        } else if (!o) {
            painter.text(hint, L"A local file's waveform shows here", TextRole::Small, kTextDim, Align::Centre);
        }
        if (active) {
            painter.fillRect({x - 1, bounds.y + 2, 2, bounds.h - 4}, kText);
            const float grow = 2.0f * std::max(look.hover, look.press);
            painter.fillEllipse({x - 5 - grow, bounds.y - 1 - grow, 10 + 2 * grow, 10 + 2 * grow}, kText);
        }
        if (look.focused)
            drawFocusRing(painter, bounds, 6);
    }
    void press(Point p) override
    {
        dragging_ = true;
        dragValue_ = valueAt(p.x);
    }
    void drag(Point p) override
    {
        if (dragging_)
            dragValue_ = valueAt(p.x);
    }
    void release(Point, bool) override
    {
        if (!dragging_)
            return;
        dragging_ = false;
        seek(clipSeekSeconds(dragValue_, duration()));
    }
    bool key(Key key, Modifiers) override
    {
        const int32_t now = clipPositionValue(position(), duration());
        int32_t to = now;
        switch (key) {
        case Key::Left:
        case Key::Down:
            to = now - 10;
            break;
        case Key::Right:
        case Key::Up:
            to = now + 10;
            break;
        case Key::PageDown:
            to = now - 100;
            break;
        case Key::PageUp:
            to = now + 100;
            break;
        case Key::Home:
            to = 0;
            break;
        case Key::End:
            to = kClipPositionSteps;
            break;
        default:
            return false;
        }
        seek(clipSeekSeconds(std::clamp(to, 0, kClipPositionSteps), duration()));
        return true;
    }
    uint64_t state() const override
    {
        const clip::OutlineRef o = outline();
        return static_cast<uint64_t>(value()) | uint64_t{dragging_} << 12 | static_cast<uint64_t>(progress() + 1) << 13
            | (reinterpret_cast<uintptr_t>(o.get()) & 0xFFFFFFFF) << 24;
    }

private:
    bool dragging_ = false;
    int32_t dragValue_ = 0;
};

const std::vector<FileFilter>& clipFileFilters()
{
    static const std::vector<FileFilter> filters = {
        {L"Audio and video files",
            L"*.mp3;*.wav;*.wave;*.flac;*.m4a;*.aac;*.wma;*.ogg;*.opus;*.aif;*.aiff;"
            L"*.mp4;*.m4v;*.mov;*.wmv;*.webm;*.mkv;*.avi"},
        {L"All files", L"*.*"},
    };
    return filters;
}

} // namespace

void MainWindow::Impl::buildMediaPage()
{
    constexpr int P = 4;
    clip::Player& player = console.clipPlayer();

    auto field = std::make_unique<SourceFieldSpot>();
    field->bounds = kClipSourceRect;
    field->tooltip = L"A sound or video file's path, or an http(s) link; paste it, or drop a file on the window";
    sourceField = add(pages[P], std::move(field), kClipTab);
    addButton(P, kClipTab, L"Browse...", kClipBrowseRect, L"Choose a sound or video file on this computer",
        [this] { browseClip(); });

    auto transport = [&player] { return clipTransport(player.state(), player.isPaused(), player.duration()); };
    Button* play = addButton(
        P, kClipTab, L"Play", kClipPlayRect, L"Play the clip; pause and resume it while it plays",
        [this] { playPause(); }, ButtonStyle::Primary);
    play->dynamicLabel = [transport] { return std::wstring(transport().play); };
    Button* stop = addButton(P, kClipTab, L"Stop", kClipStopRect, L"Stop the clip", [&player] { player.stop(); });
    stop->isEnabled = [transport] { return transport().stop; };
    Button* back = addButton(P, kClipTab, L"-10s", kClipBackRect, L"Jump back 10 seconds",
        [&player] { player.seek(player.position() - 10.0); });
    back->isEnabled = [transport] { return transport().skip; };
    Button* forward = addButton(P, kClipTab, L"+10s", kClipForwardRect, L"Jump ahead 10 seconds",
        [&player] { player.seek(player.position() + 10.0); });
    forward->isEnabled = [transport] { return transport().skip; };

    auto bar = std::make_unique<PositionBar>();
    bar->bounds = kClipPositionRect;
    bar->tooltip = L"Play position: click or drag to seek";
    bar->position = [&player] { return player.position(); };
    bar->duration = [&player] { return player.duration(); };
    bar->outline = [this] { return outline; };
    bar->progress = [this] { return outlineJob.running ? std::clamp(outlineJob.progress->load(), 0, 999) : -1; };
    bar->seek = [&player](double seconds) { player.seek(seconds); };
    bar->isEnabled = [transport] { return transport().skip; };
    add(pages[P], std::move(bar), kClipTab);

    addSlider(P, kClipTab,
        {&Settings::clip_speed, L"Clip Speed", kClipSpeedRect, 50, 200, 100,
            [](int32_t v) { return timesText(v, 100); }, L"Clip speed, 0.50x to 2.00x (double-click resets)", 5, 25});
    addToggle(P, kClipTab, &Settings::clip_keep_pitch, L"Keep pitch", kClipKeepPitchRect,
        L"Keep the clip's pitch when its speed changes");
    addToggle(P, kClipTab, &Settings::clip_follow_voice, L"Follow voice speed", kClipFollowVoiceRect,
        L"The clip also follows the voice speed while the voice mask is on");
    Slider* level = addSlider(P, kClipTab,
        {&Settings::clip_level, L"Clip Volume", kClipLevelRect, 0, 1000, 84, levelText,
            L"Sound clip volume (100 = 0 dB, double-click resets)", 5, 50});
    level->scale = SliderScale::Square;
    addToggle(P, kClipTab, &Settings::clip_mic, L"To the mic", kClipMicRect,
        L"Send the clip into the virtual microphone (the cable)");
    addToggle(P, kClipTab, &Settings::clip_hear, L"In headphones", kClipHearRect, L"Hear the clip in your headphones");
}

void MainWindow::Impl::placeSourceField()
{
    const bool shown = clipTabShown();
    if (shown == sourceFieldShown)
        return;
    sourceFieldShown = shown;
    host.placeSourceField(kClipSourceRect, shown);
}

void MainWindow::Impl::playPause()
{
    clip::Player& player = console.clipPlayer();
    const clip::PlayerState before = player.state();
    const bool opens = before != clip::PlayerState::Buffering && before != clip::PlayerState::Playing;
    const std::wstring text = host.sourceFieldText();
    player.playPause(text);
    if (opens)
        outlineFor(clip::trimSource(text));
    refresh();
}

void MainWindow::Impl::browseClip()
{
    const auto file = host.chooseFile(L"Choose a sound clip", clipFileFilters());
    if (!file)
        return;
    host.setSourceFieldText(*file);
    outlineFor(*file);
    refresh();
}

void MainWindow::Impl::outlineFor(const std::wstring& source)
{
    const bool local = clip::validateSource(source).ok && clip::isLocalPath(source);
    if (local && source == outlineJob.path)
        return; // this file's outline is there or on its way
    if (outlineJob.cancel)
        outlineJob.cancel->store(1);
    outline.reset();
    outlineMessage.clear();
    outlineJob = {local ? source : std::wstring(), outlineJob.serial + 1, local,
        std::make_shared<std::atomic<uint8_t>>(0), std::make_shared<std::atomic<int32_t>>(0)};
    if (!local)
        return;
    struct Result {
        clip::OutlineRef outline;
        std::wstring message;
    };
    auto result = std::make_shared<Result>();
    platform::Media* media = &console.media();
    host.runInBackground(
        [media, path = source, cancel = outlineJob.cancel, progress = outlineJob.progress, result] {
            result->outline = clip::buildOutline(
                *media, path, kOutlineRate, kOutlinePointsPerSecond, progress.get(), cancel.get(), result->message);
        },
        [this, serial = outlineJob.serial, result] {
            if (serial != outlineJob.serial)
                return; // a newer source took its place
            outlineJob.running = false;
            outline = result->outline;
            outlineMessage = result->message;
            refresh();
        });
}

void MainWindow::Impl::paintClipTab(Painter& painter) const
{
    const clip::Player& player = console.clipPlayer();
    painter.text(kSourceHeading, L"Clip Source", TextRole::Heading, kText, Align::Left);
    painter.fillRect({kSourceHeading.x, kSourceHeading.bottom() + 2, kSourceHeading.w, 1}, kPanel);
    painter.text(kClipSourceLabelRect, L"File or Link", TextRole::Body, kText, Align::Left);
    // The native field draws itself over this frame; without one (a host
    // that has none) the frame still shows where it belongs.
    painter.fillRoundRect(kClipSourceRect, 4, kWhite);
    painter.frameRoundRect(kClipSourceRect, 4, kBorder, 1.0f);

    const ClipTransport t = clipTransport(player.state(), player.isPaused(), player.duration());
    std::wstring status = clipStatusLine(player.state(), player.isPaused(), player.statusText());
    Colour ink = t.failed ? kDanger : kText;
    if (status.empty()) {
        status = outlineMessage.empty() ? L"Paste a file path or a web link, drop a file here, or browse."
                                        : outlineMessage;
        ink = kTextDim;
    }
    painter.text(
        kClipStatusRect, fitted(painter, status, TextRole::Body, kClipStatusRect.w), TextRole::Body, ink, Align::Left);

    painter.text(kClipTimeRect, clipTimeLine(), TextRole::Body, kText, Align::Right);

    paintSection(painter, kSpeedHeading, L"Speed");
    paintSection(painter, kRoutingHeading, L"Level & Routing");
}

std::wstring MainWindow::Impl::clipTimeLine() const
{
    const clip::Player& player = console.clipPlayer();
    double position = player.position();
    for (const Placed& p : pages[4])
        if (const auto* bar = dynamic_cast<const PositionBar*>(p.control.get()); bar && bar->dragValue() >= 0)
            position = clipSeekSeconds(bar->dragValue(), player.duration());
    return clipPositionText(position, player.duration());
}

void MainWindow::Impl::clipTabRegions(std::vector<Region>& out) const
{
    const clip::Player& player = console.clipPlayer();
    const std::hash<std::wstring> hash;
    const bool failed = player.state() == clip::PlayerState::Failed;
    const std::wstring status = clipStatusLine(player.state(), player.isPaused(), player.statusText());
    out.push_back({kClipStatusRect, (hash(status) ^ (hash(outlineMessage) << 1)) * 2 + failed});
    out.push_back({kClipTimeRect, hash(clipTimeLine())});
}

} // namespace ui
