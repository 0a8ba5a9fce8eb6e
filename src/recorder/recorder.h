#pragma once
// The recorder and the rolling Last buffer. Both take their audio from two
// sources, the processed voice (the engine's tap rings) and what the speaker
// plays (the output tap's rings), drained on the interface thread's timers,
// mixed with saturation into 16-bit stereo. A finished take or a Last
// excerpt goes to the take editor. Interface thread only.

#include "engine/output_tap.h"
#include "engine/recorder_ring.h"
#include "recorder/recorder_flags.h"
#include "recorder/save_job.h"
#include "recorder/take_editor.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace recorder {

inline constexpr size_t kTakeLimitSamples = 57600000;  // 10 minutes of stereo
inline constexpr int64_t kShortestTake = 9600;         // 0.2 s
inline constexpr size_t kLastPumpLimit = 96000;        // samples per source per pump (1 s)
inline constexpr int64_t kLevelBucket = 2400;          // frames per live level point (50 ms)

// "Last: Off", "Last 30 s", "Last 1 min", "Last 2 mins", "Last 1:30".
std::wstring lastLabel(int32_t keepLast);

// The sum of two 16-bit sources, saturated; a missing sample counts as 0.
void mixSources(const std::vector<int16_t>& a, const std::vector<int16_t>& b, std::vector<int16_t>& out);

class Recorder {
public:
    // speaker gives the output tap its endpoint (the chosen speaker's id).
    Recorder(settings::Settings& settings, engine::RecorderRings& rings, engine::OutputTap& tap,
        engine::EndpointSource speaker, BusyFlags& flags, TakeEditor& editor, StatusSink status);
    ~Recorder(); // stops the tap

    // Record button (and the record hotkey): toggles.
    void toggleRecording();
    bool startRecording();
    void stopRecording();
    bool recording() const { return flags_.recording; }
    // Timer 2 (16 ms) while recording: drains the take rings, extends the
    // level history, stops at 10 minutes.
    void drainTake();
    double recordedSeconds() const;
    const std::vector<float>& levelHistory() const { return levels_; }

    // Timer 1 (350 ms).
    void pumpLast();
    void reconfigureLast();
    int64_t lastFill() const { return lastFill_.load(); }
    int64_t lastCapacity() const { return static_cast<int64_t>(lastRing_.size() / 2); }

    // The Last button: the excerpt becomes the take.
    void grabLast();
    // The Last hotkey: the request for a worker (sets "Saving rolling Last
    // clip..."), or none with the reason in the status line. folder is the
    // recordings folder.
    std::optional<SaveRequest> saveLast(const std::wstring& folder, const media::LocalTime& now);
    // The newest min(fill, KeepLast s) frames in order, quiet removed when LastQuiet is on.
    clip::SoundRef lastExcerpt() const;

    void stepKeepLast(int direction);
    void toggleSource(int32_t value);
    void toggleQuiet();

private:
    void syncTap();
    // The selected take rings into their buffers, up to ten minutes each.
    void drainTakeRings();
    // Mixes the first frames of the two pending Last sources into the Last ring.
    void appendLast(size_t frames);

    settings::Settings& settings_;
    engine::RecorderRings& rings_;
    engine::OutputTap& tap_;
    engine::EndpointSource speaker_;
    BusyFlags& flags_;
    TakeEditor& editor_;
    StatusSink status_;

    int32_t captureMask_ = 0;
    std::vector<int16_t> takeVoice_, takeLoop_;
    std::vector<float> levels_;
    float levelPeak_ = 0.0f;
    int64_t levelFrames_ = 0;
    size_t levelSource_ = 0; // samples of the first selected source already measured

    std::vector<int16_t> lastRing_; // stereo frames, capacity KeepLast s
    int64_t lastWrite_ = 0;         // frames
    std::atomic<int64_t> lastFill_{0};
    int32_t lastKeep_ = -1;         // KeepLast at the last reconfigure
    // Drained but not yet written: the source ahead of the other waits here.
    std::vector<int16_t> scratchVoice_, scratchLoop_, scratchMix_;
};

} // namespace recorder
