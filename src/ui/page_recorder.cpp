// Page 4, "Media & Recorder", its Recorder & Editor tab: Record/Stop with
// the sources, the Last buffer with its length and quiet switch, the take's
// waveform with the selection, the editing and fade buttons, Apply FX with
// its progress, Save and the recordings folder, and the status line.

#include "media/export.h"
#include "media/time_text.h"
#include "recorder/save_job.h"
#include "ui/clip_tab.h"
#include "ui/main_window_impl.h"
#include "ui/pages.h"
#include "ui/rec_tab.h"
#include "ui/theme.h"

#include <algorithm>
#include <cmath>

namespace ui {

using settings::Settings;
using namespace theme;

namespace {

constexpr int kRecorderTab = 3;
constexpr int32_t kVoiceSource = 1, kComputerSource = 2;
constexpr double kOutlinePointsPerSecond = 48000.0 / static_cast<double>(recorder::kLevelBucket);
constexpr Rect kRecordHeading{kLeftX, kContentTop, kLeftW, 24};
constexpr Rect kLastHeading{kRightX, kContentTop, kRightW, 24};
constexpr Rect kTakeHeading{kLeftX, 224, 828, 24};
// How near a selection edge (in units) a press takes hold of it.
constexpr float kEdgeReach = 5.0f;

// The take's waveform with the selection, the play cursor and, below it, the
// overview strip with the view's box; while recording, the live level. The
// left button selects (or drags an edge, or on the strip the view), the
// right or middle button pans, the wheel zooms about the pointer.
class TakeWaveform final : public Control {
public:
    recorder::TakeEditor* editor = nullptr;
    recorder::Recorder* recorder = nullptr;
    std::function<bool()> recording;

    Rect wave() const { return kRecWaveRect; }
    Rect strip() const { return kRecStripRect; }

    void paint(Painter& painter, const ControlLook& look) const override
    {
        const bool active = enabled();
        painter.fillRoundRect(bounds, 4, mix(kCanvas, kPanel, 0.5f));
        painter.frameRoundRect(bounds, 4, active ? mix(kTrack, kAccent, look.hover) : kTrack, 1.0f);
        const Rect w = wave(), s = strip();
        if (recording()) {
            // The live level: the whole capture so far.
            const std::vector<float>& levels = recorder->levelHistory();
            const double seconds = static_cast<double>(levels.size()) / kOutlinePointsPerSecond;
            paintTakePeaks(painter, w, levels, kOutlinePointsPerSecond, 0.0, std::max(seconds, 1.0), kDanger);
        } else if (editor->hasTake()) {
            const recorder::TakeOutline& outline = editor->outline();
            const double total = editor->seconds(), vs = editor->viewStart(), vl = editor->viewLength();
            const float a = std::clamp(xAt(editor->selectionStart(), w, vs, vl), w.x, w.right());
            const float b = std::clamp(xAt(editor->selectionEnd(), w, vs, vl), w.x, w.right());
            // The selection: shaded, its part of the waveform in the accent, the rest paler.
            if (b > a)
                painter.fillRect({a, w.y, b - a, w.h}, mix(kCanvas, kAccent, 0.15f));
            paintTakePeaks(painter, w, outline.peaks, kOutlinePointsPerSecond, vs, vl,
                active ? mix(kWhite, kAccent, 0.45f) : kTrack);
            if (b > a) {
                painter.pushClip({a, w.y, b - a, w.h});
                paintTakePeaks(painter, w, outline.peaks, kOutlinePointsPerSecond, vs, vl, active ? kAccent : kBorder);
                painter.popClip();
            }
            for (double edge : {editor->selectionStart(), editor->selectionEnd()}) {
                const float x = xAt(edge, w, vs, vl);
                if (x >= w.x && x <= w.right())
                    painter.fillRect({x - 1, w.y, 2, w.h}, kText);
            }
            if (const auto cursor = editor->playCursor()) {
                const float x = xAt(*cursor, w, vs, vl);
                if (x >= w.x && x <= w.right())
                    painter.fillRect({x - 1, bounds.y + 2, 2, bounds.h - 4}, kRunning);
            }
            // The overview: the whole take, the view's box over it.
            painter.fillRoundRect(s, 3, kCanvas);
            paintTakePeaks(painter, s, outline.peaks, kOutlinePointsPerSecond, 0.0, total, kTrack);
            const float v0 = xAt(vs, s, 0.0, total), v1 = xAt(vs + vl, s, 0.0, total);
            painter.frameRoundRect({v0, s.y, std::max(4.0f, v1 - v0), s.h}, 3, kBorder, 1.5f);
        } else {
            painter.fillRect({w.x, w.y + w.h / 2, w.w, 1}, kTrack);
            painter.text({w.x, w.y + w.h / 2 - 24, w.w, 20}, L"The take's waveform shows here", TextRole::Body,
                kTextDim, Align::Centre);
        }
        if (look.focused)
            drawFocusRing(painter, bounds, 6);
    }

    void press(Point p) override
    {
        mode_ = Mode::None;
        if (!editor->hasTake() || recording())
            return;
        const Rect w = wave(), s = strip();
        const double vs = editor->viewStart(), vl = editor->viewLength(), total = editor->seconds();
        if (p.y >= s.y - 4) {
            // Held inside the view's box, the box moves with the pointer; elsewhere it centres on it.
            mode_ = Mode::View;
            const double at = timeAt(p.x, s, 0.0, total, total);
            grab_ = at >= vs && at <= vs + vl ? at - vs : vl / 2;
            editor->setView(at - grab_, vl);
            return;
        }
        const float start = xAt(editor->selectionStart(), w, vs, vl), end = xAt(editor->selectionEnd(), w, vs, vl);
        if (std::abs(p.x - end) <= kEdgeReach) {
            anchor_ = editor->selectionStart();
        } else if (std::abs(p.x - start) <= kEdgeReach) {
            anchor_ = editor->selectionEnd();
        } else {
            anchor_ = timeAt(p.x, w, vs, vl, total);
        }
        mode_ = Mode::Select;
        editor->setSelection(anchor_, timeAt(p.x, w, vs, vl, total));
    }
    bool secondaryPress(Point p) override
    {
        if (!editor->hasTake() || recording())
            return false;
        mode_ = Mode::Pan;
        pressX_ = p.x;
        grab_ = editor->viewStart();
        return true;
    }
    void drag(Point p) override
    {
        const Rect w = wave(), s = strip();
        const double vs = editor->viewStart(), vl = editor->viewLength(), total = editor->seconds();
        switch (mode_) {
        case Mode::Select:
            editor->setSelection(anchor_, timeAt(p.x, w, vs, vl, total));
            break;
        case Mode::View:
            editor->setView(timeAt(p.x, s, 0.0, total, total) - grab_, vl);
            break;
        case Mode::Pan:
            editor->setView(grab_ - static_cast<double>(p.x - pressX_) / w.w * vl, vl);
            break;
        case Mode::None:
            break;
        }
    }
    void release(Point, bool) override { mode_ = Mode::None; }
    void doubleClick(Point p) override { press(p); }
    bool wheelAt(Point p, float notches) override
    {
        if (!editor->hasTake() || notches == 0.0f)
            return false;
        const long rounded = std::lround(notches);
        const int steps = static_cast<int>(rounded != 0 ? rounded : (notches > 0 ? 1 : -1));
        editor->zoom(steps, timeAt(p.x, wave(), editor->viewStart(), editor->viewLength(), editor->seconds()));
        return true;
    }
    bool key(Key key, Modifiers) override
    {
        if (!editor->hasTake())
            return false;
        const double vs = editor->viewStart(), vl = editor->viewLength();
        switch (key) {
        case Key::Left:
            editor->setView(vs - vl / 10, vl);
            return true;
        case Key::Right:
            editor->setView(vs + vl / 10, vl);
            return true;
        case Key::Up:
            editor->zoom(1, vs + vl / 2);
            return true;
        case Key::Down:
            editor->zoom(-1, vs + vl / 2);
            return true;
        case Key::Home:
            editor->setView(0.0, vl);
            return true;
        case Key::End:
            editor->setView(editor->seconds(), vl);
            return true;
        default:
            return false;
        }
    }
    uint64_t state() const override
    {
        if (recording())
            return 1 | static_cast<uint64_t>(recorder->levelHistory().size()) << 1;
        const std::hash<double> h;
        const auto cursor = editor->playCursor();
        return (h(editor->selectionStart()) ^ h(editor->selectionEnd()) * 3 ^ h(editor->viewStart()) * 5
                   ^ h(editor->viewLength()) * 7 ^ h(cursor ? *cursor : -1.0) * 11 ^ h(editor->seconds()) * 13
                   ^ static_cast<uint64_t>(editor->takeCounter()) * 17)
            << 1;
    }

private:
    enum class Mode { None, Select, View, Pan };
    Mode mode_ = Mode::None;
    double anchor_ = 0.0; // the selection's fixed end while dragging
    double grab_ = 0.0;   // the view's offset under the pointer (View) or its start at the press (Pan)
    float pressX_ = 0.0f;
};

std::vector<FileFilter> takeFileFilters()
{
    std::vector<FileFilter> filters;
    for (int i = 0; i < media::kTakeFormats; ++i) {
        const media::TakeFormatEntry& f = media::takeFormat(i);
        filters.push_back({f.label, std::wstring(L"*.") + f.extension});
    }
    return filters;
}

// The editing row's buttons, in their order.
enum EditButton { kPlay, kMic, kCut, kKeep, kTrim, kUndo, kRedo, kClear };

} // namespace

RecorderState MainWindow::Impl::recorderState() const
{
    console::Console& c = console;
    const recorder::TakeEditor& editor = c.takeEditor();
    const recorder::BusyFlags& flags = c.recorderFlags();
    return {flags.recording, flags.saving, editor.hasTake(), editor.canUndo(), editor.canRedo(), editor.fadeIn(),
        editor.fadeOut(), s.KeepLast.load()};
}

void MainWindow::Impl::buildRecorderTab()
{
    constexpr int P = 4, T = kRecorderTab;
    recorder::Recorder& rec = console.recorder();
    recorder::TakeEditor& editor = console.takeEditor();
    auto buttons = [this] { return recorderButtons(recorderState()); };

    Button* record = addButton(
        P, T, L"Record", kRecRecordRect, L"Start recording a take; click again to stop",
        [this, &rec] {
            rec.toggleRecording();
            refresh();
        },
        ButtonStyle::Primary);
    record->dynamicLabel = [buttons] { return std::wstring(buttons().record); };
    record->isEnabled = [buttons] { return buttons().recordOn; };
    auto source = [&](int32_t bit, std::wstring label, Rect r, std::wstring tip) {
        auto t = std::make_unique<Toggle>(
            std::move(label), [this, bit] { return (s.RecSources.load() & bit) != 0; },
            [&rec, bit](bool) { rec.toggleSource(bit); });
        t->bounds = r;
        t->tooltip = std::move(tip);
        t->isEnabled = [buttons] { return buttons().sources; };
        add(pages[P], std::move(t), T);
    };
    source(kVoiceSource, L"Voice", kRecVoiceRect, L"Record your processed voice (at least one source stays on)");
    source(kComputerSource, L"Computer sound", kRecComputerRect,
        L"Record what the computer plays on the speakers (at least one source stays on)");

    Button* last = addButton(P, T, L"Last", kRecLastRect, L"Put the last seconds of audio into the editor as the take",
        [&rec] { rec.grabLast(); });
    last->dynamicLabel = [this] { return recorder::lastLabel(s.KeepLast.load()); };
    last->isEnabled = [buttons] { return buttons().last; };
    Button* less = addButton(
        P, T, L"\u2212", kRecKeepLessRect, L"Keep fewer seconds in the Last buffer", [&rec] { rec.stepKeepLast(-1); });
    less->isEnabled = [buttons] { return buttons().keepLess; };
    Button* more = addButton(
        P, T, L"+", kRecKeepMoreRect, L"Keep more seconds in the Last buffer", [&rec] { rec.stepKeepLast(1); });
    more->isEnabled = [buttons] { return buttons().keepMore; };
    auto quiet = std::make_unique<Toggle>(
        L"Leave out long pauses", [this] { return s.LastQuiet.load() != 0; }, [&rec](bool) { rec.toggleQuiet(); });
    quiet->bounds = kRecQuietRect;
    quiet->tooltip = L"Cut pauses longer than half a second from what the Last buffer grabs or saves";
    add(pages[P], std::move(quiet), T);
    Button* saveLast = addButton(P, T, L"Save Last", kRecSaveLastRect,
        L"Save what the Last buffer holds as a file in the recordings folder", [this] { saveLastClip(); });
    saveLast->isEnabled = [this] { return s.KeepLast.load() > 0 && !lastSaving; };

    auto wave = std::make_unique<TakeWaveform>();
    wave->bounds = kRecWaveformRect;
    wave->tooltip = L"Drag to select, drag an edge to move it; right-drag pans, the wheel zooms, the strip below "
                    L"moves the view";
    wave->editor = &editor;
    wave->recorder = &rec;
    wave->recording = [this] { return console.recorderFlags().recording; };
    add(pages[P], std::move(wave), T);

    struct Edit {
        const wchar_t* label;
        const wchar_t* tooltip;
        std::function<void()> run;
        std::function<bool(const RecorderButtons&)> on;
    };
    const auto editing = [](const RecorderButtons& b) { return b.edit; };
    const Edit edits[kRecEditButtons] = {
        {L"Play", L"Play the selection (or the whole take) in your headphones", [&editor] { editor.play(false); },
            editing},
        {L"Mic", L"Play the selection (or the whole take) into the virtual microphone too",
            [&editor] { editor.play(true); }, editing},
        {L"Cut Sel", L"Cut the selected part out of the take", [&editor] { editor.cutSelection(); }, editing},
        {L"Keep Sel", L"Keep only the selected part of the take", [&editor] { editor.keepSelection(); }, editing},
        {L"Trim Silence", L"Cut pauses longer than half a second from the take", [&editor] { editor.trimSilence(); },
            editing},
        {L"Undo", L"Undo the last edit (Ctrl+Z)", [&editor] { editor.undo(); },
            [](const RecorderButtons& b) { return b.undo; }},
        {L"Redo", L"Redo the edit just undone (Ctrl+Y)", [&editor] { editor.redo(); },
            [](const RecorderButtons& b) { return b.redo; }},
        {L"Clear", L"Close the take and start over", [&editor] { editor.clear(); },
            [](const RecorderButtons& b) { return b.clear; }},
    };
    for (int i = 0; i < kRecEditButtons; ++i) {
        Button* b = addButton(P, T, edits[i].label, recEditRect(i), edits[i].tooltip, edits[i].run);
        b->isEnabled = [buttons, on = edits[i].on] { return on(buttons()); };
        if (i == kPlay || i == kMic)
            b->dynamicLabel = [&editor, i, label = std::wstring(edits[i].label)] {
                return editor.playing(i == kMic) ? std::wstring(L"Stop") : label;
            };
    }

    auto fade = [&](bool fadeIn, int direction, Rect r, std::wstring tip) {
        Button* b = addButton(P, T, direction < 0 ? L"\u2212" : L"+", r, std::move(tip),
            [&editor, fadeIn, direction] { editor.stepFade(fadeIn, direction); });
        b->isEnabled = [buttons, fadeIn, direction] {
            const RecorderButtons on = buttons();
            return fadeIn ? (direction < 0 ? on.fadeInLess : on.fadeInMore)
                          : (direction < 0 ? on.fadeOutLess : on.fadeOutMore);
        };
    };
    fade(true, -1, kRecFadeInLessRect, L"Shorten the fade-in by 0.25 s");
    fade(true, 1, kRecFadeInMoreRect, L"Lengthen the fade-in by 0.25 s (up to 10 s)");
    fade(false, -1, kRecFadeOutLessRect, L"Shorten the fade-out by 0.25 s");
    fade(false, 1, kRecFadeOutMoreRect, L"Lengthen the fade-out by 0.25 s (up to 10 s)");

    Button* apply = addButton(P, T, L"Apply FX", kRecApplyFxRect,
        L"Render the current effects, equalizer and voice mask into the take", [this] { applyTakeFx(); });
    apply->isEnabled = [buttons] { return buttons().edit; };
    Button* save = addButton(P, T, L"Save...", kRecSaveRect, L"Save the take as a sound file", [this] { saveTake(); });
    save->isEnabled = [this, buttons] { return buttons().edit && console.platform().files; };
    addButton(P, T, L"Choose Recordings & Clips Folder", kRecFolderRect,
        L"Choose the folder that saved takes and Last clips go to", [this] { chooseClipsFolder(); });
}

std::wstring MainWindow::Impl::clipsFolderNow() const
{
    return s.clipsFolder().empty() ? services.recordingsFolder : s.clipsFolder();
}

void MainWindow::Impl::saveTake()
{
    const int32_t current = std::clamp(s.TakeFormat.load(), 0, media::kTakeFormats - 1);
    const media::TakeFormatEntry& format = media::takeFormat(current);
    const std::wstring suggested
        = media::makeFileName(clipsFolderNow(), L"VantorOvix_Clip", media::localTimeNow(), format);
    const auto choice = host.chooseSaveFile(L"Save the take", takeFileFilters(), current, suggested, format.extension);
    if (!choice) {
        refresh();
        return;
    }
    int chosen = media::formatFromPath(choice->path);
    if (chosen < 0)
        chosen = std::clamp(choice->filter, 0, media::kTakeFormats - 1);
    s.set(&Settings::TakeFormat, chosen);
    auto request = console.takeEditor().save(choice->path, chosen);
    if (!request) {
        after();
        return;
    }
    struct Outcome {
        recorder::SaveResult result;
    };
    auto outcome = std::make_shared<Outcome>();
    platform::Files* files = console.platform().files;
    platform::Media* media = &console.media();
    host.runInBackground(
        [outcome, files, media, request = std::move(*request)] {
            outcome->result = recorder::runSave(request, *files, media);
        },
        [this, outcome] {
            console.recorderFlags().saving = false;
            const std::wstring& text = outcome->result.text;
            console.setRecorderStatus(text.empty() ? std::wstring(L"Save failed") : text);
            refresh();
        });
    after();
}

void MainWindow::Impl::saveLastClip()
{
    auto request = console.recorder().saveLast(clipsFolderNow(), media::localTimeNow());
    if (!request) {
        refresh();
        return;
    }
    lastSaving = true;
    auto result = std::make_shared<recorder::SaveResult>();
    platform::Files* files = console.platform().files;
    platform::Media* media = &console.media();
    host.runInBackground(
        [result, files, media, request = std::move(*request)] { *result = recorder::runSave(request, *files, media); },
        [this, result] {
            lastSaving = false;
            console.setRecorderStatus(result->text.empty() ? std::wstring(L"Save failed") : result->text);
            refresh();
        });
    refresh();
}

void MainWindow::Impl::applyTakeFx()
{
    const recorder::EffectSnapshot snapshot = console.fxSnapshot();
    std::shared_ptr<recorder::TakeFxJob> job = console.fxApply().start(snapshot);
    if (job) {
        recorder::FxRenderer renderer = console.fxRenderer();
        host.runInBackground([job, snapshot, renderer] { recorder::runFxJob(*job, snapshot, renderer); }, [] {});
    }
    refresh();
}

void MainWindow::Impl::chooseClipsFolder()
{
    const auto folder = host.chooseFolder(L"Choose Recordings & Clips Folder", clipsFolderNow());
    if (folder && !folder->empty()) {
        s.setClipsFolder(*folder);
        setToast(L"Takes and Last clips go to " + *folder);
    }
    after();
}

std::wstring MainWindow::Impl::recorderLine() const
{
    console::Console& c = console;
    if (c.recorderFlags().recording)
        return recordingLine(c.recorder().recordedSeconds());
    if (!c.recorderStatus().empty())
        return c.recorderStatus();
    return c.takeEditor().hasTake() ? std::wstring() : L"Press Record or click Last buffer to edit waveform";
}

std::wstring MainWindow::Impl::recordLengthLine() const
{
    console::Console& c = console;
    if (c.recorderFlags().recording)
        return media::timeText(c.recorder().recordedSeconds());
    return c.takeEditor().hasTake() ? L"Take: " + media::timeText(c.takeEditor().seconds()) : std::wstring();
}

std::wstring MainWindow::Impl::takeInfoLine() const
{
    console::Console& c = console;
    const recorder::TakeEditor& editor = c.takeEditor();
    if (c.recorderFlags().recording)
        return {}; // the running length shows beside Stop
    if (!editor.hasTake())
        return L"No take yet";
    return L"Selection " + media::timeText(editor.selectionStart()) + L" \u2013 " + media::timeText(editor.selectionEnd())
        + L" of " + media::timeText(editor.seconds());
}

int32_t MainWindow::Impl::fxProgress() const
{
    console::Console& c = console;
    const auto& job = c.fxApply().running();
    return job ? std::clamp(job->progress.load(), 0, 1000) : -1;
}

void MainWindow::Impl::paintRecorderTab(Painter& painter) const
{
    console::Console& c = console;
    paintSection(painter, kRecordHeading, L"Record");
    paintSection(painter, kLastHeading, L"Last Buffer");
    paintSection(painter, kTakeHeading, L"Take Editor");

    const recorder::Recorder& rec = c.recorder();
    const std::wstring length = recordLengthLine();
    painter.text(
        kRecLengthRect, fitted(painter, length, TextRole::Body, kRecLengthRect.w), TextRole::Body, kText, Align::Left);
    const std::wstring fill = lastFillText(rec.lastFill(), rec.lastCapacity(), s.KeepLast.load());
    painter.text(kRecLastFillRect, fitted(painter, fill, TextRole::Small, kRecLastFillRect.w), TextRole::Small,
        kTextDim, Align::Right);
    const std::wstring info = takeInfoLine();
    painter.text(kRecTakeInfoRect, fitted(painter, info, TextRole::Small, kRecTakeInfoRect.w), TextRole::Small,
        kTextDim, Align::Right);

    painter.text(kRecFadeInLabelRect, L"Fade In", TextRole::Body, kText, Align::Left);
    painter.text(kRecFadeOutLabelRect, L"Fade Out", TextRole::Body, kText, Align::Left);
    painter.text(kRecFadeInValueRect, fadeText(c.takeEditor().fadeIn()), TextRole::Body, kText, Align::Centre);
    painter.text(kRecFadeOutValueRect, fadeText(c.takeEditor().fadeOut()), TextRole::Body, kText, Align::Centre);

    if (const int32_t progress = fxProgress(); progress >= 0) {
        const Rect r = kRecFxProgressRect;
        const Rect bar{r.x, r.y + r.h - 6, r.w, 6};
        painter.fillRoundRect(bar, 3, kPanel);
        painter.fillRoundRect(
            {bar.x, bar.y, std::max(6.0f, bar.w * static_cast<float>(progress) / 1000), bar.h}, 3, kAccent);
        wchar_t text[64];
        std::swprintf(text, 64, L"Applying effects... %d %%", progress / 10);
        painter.text({r.x, r.y, r.w, r.h - 8}, text, TextRole::Small, kTextDim, Align::Left);
    }

    const std::wstring line = recorderLine();
    painter.text(kRecStatusRect, fitted(painter, line, TextRole::Body, kRecStatusRect.w), TextRole::Body,
        c.takeEditor().hasTake() || c.recorderFlags().recording ? kText : kTextDim, Align::Left);
}

void MainWindow::Impl::recorderTabRegions(std::vector<Region>& out) const
{
    console::Console& c = console;
    const std::hash<std::wstring> hash;
    const recorder::Recorder& rec = c.recorder();
    out.push_back({kRecLengthRect, hash(recordLengthLine())});
    out.push_back({kRecLastFillRect, hash(lastFillText(rec.lastFill(), rec.lastCapacity(), s.KeepLast.load()))});
    out.push_back({kRecTakeInfoRect, hash(takeInfoLine())});
    out.push_back({kRecFadeInValueRect.unite(kRecFadeOutValueRect),
        std::hash<double>{}(c.takeEditor().fadeIn()) ^ std::hash<double>{}(c.takeEditor().fadeOut()) * 3});
    out.push_back({kRecFxProgressRect, static_cast<uint64_t>(fxProgress() + 1)});
    out.push_back({kRecStatusRect, hash(recorderLine()) ^ c.recorderStatusSerial()});
}

} // namespace ui
