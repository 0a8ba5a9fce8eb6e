#pragma once
// The twelve pads and the sound library that both soundboard views (the tab
// and the separate window) show and click. The interface thread owns all of
// it; each pad's sound is decoded by a worker that gets copies of the path
// and range and a shared cancel flag, and whose result comes back on the
// interface thread, where a generation check drops superseded loads. Sounds
// reach the engine only through the pad player's queued commands.

#include "engine/sound_player.h"
#include "media/sound.h"
#include "platform/clock.h"
#include "platform/registry_store.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace soundboard {

inline constexpr int kPadCount = 12;
inline constexpr int kPreviewId = 12; // the trim preview's id in the pad player
inline constexpr size_t kLibraryLimit = 256;
inline constexpr size_t kLibraryPathChars = 518;
inline constexpr double kMaxPadSeconds = 20.0;
inline constexpr double kMinTrimSeconds = 0.05;
inline constexpr wchar_t kSoundboardKey[] = L"Software\\VantorOvix\\Soundboard";

struct Pad {
    std::wstring path; // empty: an empty pad
    std::wstring title;
    uint32_t key = 0;  // key code, 0 = none
    double from = 0.0; // seconds
    double to = 0.0;   // seconds; not above from: from `from` for up to 20 s
    clip::SoundRef sound;
    bool loading = false;
    bool loadError = false;
    std::wstring errorText;
    bool playWhenLoaded = false;
    bool needsLoad = false; // read from the registry with a path, not loaded yet
    int loadGeneration = 0;
    std::shared_ptr<std::atomic<uint8_t>> cancelFlag;
};

// Decodes path from..to (at most 20 s) for a pad or the trim preview: the
// console binds it to the clip loader. Runs on a worker.
using SoundLoader = std::function<clip::SoundRef(
    const std::wstring& path, double from, double to, const std::atomic<uint8_t>* cancel, std::wstring& message)>;

// Runs work on a short-lived worker counted by the background-worker
// counter, then done on the interface thread; done is dropped when no
// window is left to run it. Without a runner no load starts.
using Runner = std::function<void(std::function<void()> work, std::function<void()> done)>;

// The result of one pad load, as the worker hands it back.
struct PadLoadResult {
    int pad = 0;
    int generation = 0;
    clip::SoundRef sound;
    std::wstring message;
};

struct TrimRange {
    double start = 0.0;
    double end = 0.0;
};

// The text after the last "\" without its last "." and what follows.
std::wstring defaultTitle(const std::wstring& path);
// Clamps to 0..duration, swaps a reversed range and widens one shorter
// than 0.05 s (to the right when it fits, else ending at duration); a
// duration of 0 or less clears the range.
TrimRange normaliseTrim(double start, double end, double duration);
// The trim dialog's first range once the duration is known.
TrimRange initialTrim(double from, double to, double duration);

class Soundboard {
public:
    // registry: none means nothing is loaded or saved.
    Soundboard(engine::SoundPlayer& player, platform::Clock& clock, platform::RegistryStore* registry);

    void setLoader(SoundLoader loader) { loader_ = std::move(loader); }
    void setRunner(Runner runner) { runner_ = std::move(runner); }
    // Both views repaint (after a trigger, a load result, a change).
    void setRedraw(std::function<void()> redraw) { redraw_ = std::move(redraw); }

    // The registry layout: load at start-up (a key that cannot be opened
    // changes nothing), save after every change.
    void load();
    void save();
    // Once the window exists: every pad with a path and no sound starts loading.
    void startPendingLoads();

    void triggerPad(int index);
    void stopAllPads();
    void startPadLoad(int index);
    void onPadLoaded(const PadLoadResult& result);
    // Is the pad's (or the preview's) id playing now, by the player's report.
    bool playing(int id) const { return id >= 0 && id < 32 && (player_.playingMask() >> id & 1u) != 0; }

    // The library. Appends files not yet in it (exact comparison, up to the
    // 256-entry limit), saves and sets "Added N sound(s)" when any was new;
    // returns how many were added.
    int addFiles(const std::vector<std::wstring>& paths);
    void removeLibraryItem();        // the selected row
    void assignLibraryItem(int pad); // the selected row onto the pad
    void clearPad(int pad);          // keeps the pad's key
    void renamePad(int pad, const std::wstring& title);
    void saveTrim(int pad, double from, double to); // the trim dialog's Save

    // Keys set by the key capture; both save the soundboard.
    void setPadKey(int pad, uint32_t code);
    void setStopKey(uint32_t code);

    // The trim preview under id 12: decodes path from..to on a worker and plays it.
    void startPreview(const std::wstring& path, double from, double to);
    void stopPreview();

    const std::array<Pad, kPadCount>& pads() const { return pads_; }
    const Pad& pad(int index) const { return pads_.at(static_cast<size_t>(index)); }
    const std::vector<std::wstring>& library() const { return library_; }
    uint32_t stopKey() const { return stopKey_; }

    // Selection (interface only).
    int selectedPad = -1;
    int selectedRow = -1;
    int firstRow = 0;

    // The soundboard status line: its text, when it was set (clock seconds)
    // and a count that moves with every change.
    void setStatus(const std::wstring& text);
    const std::wstring& status() const { return status_; }
    double statusTime() const { return statusTime_; }
    uint32_t statusSerial() const { return statusSerial_; }

private:
    void redraw();
    // The pad at index when it holds a path; none for an empty pad or a bad index.
    Pad* padWithPath(int index);

    engine::SoundPlayer& player_;
    platform::Clock& clock_;
    platform::RegistryStore* registry_;
    SoundLoader loader_;
    Runner runner_;
    std::function<void()> redraw_;
    std::array<Pad, kPadCount> pads_{};
    std::vector<std::wstring> library_;
    uint32_t stopKey_ = 0;
    int previewGeneration_ = 0;
    std::wstring status_;
    double statusTime_ = 0.0;
    uint32_t statusSerial_ = 0;
};

} // namespace soundboard
