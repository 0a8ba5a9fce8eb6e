#pragma once
// The take editor: one recording as an immutable sound plus the list of its
// source ranges that make up the take. Edits rewrite the list (never the
// audio) and push the previous state for undo; renders for playing and
// saving apply the fades and a 3 ms dip at every joint. Interface thread only.

#include "engine/engine_state.h"
#include "engine/sound_player.h"
#include "media/sound.h"
#include "recorder/recorder_flags.h"
#include "recorder/save_job.h"
#include "recorder/silence.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace recorder {

// The status line's text, set by every command that reports.
using StatusSink = std::function<void(const std::wstring&)>;

// The view's waveform: one point per 2400 frames (20 per second), each the
// largest |sample| / 32768 of its frames.
struct TakeOutline {
    std::vector<float> peaks;
    double seconds = 0.0;
};

inline constexpr int64_t kOutlineBucket = 2400;
inline constexpr double kFadeStepSeconds = 0.25;
inline constexpr double kMaxFadeSeconds = 10.0;
inline constexpr int64_t kPeakBlock = 64; // frames per precomputed source peak

class TakeEditor {
public:
    // phones: the preview heard only in the headphones ("Play"); toMic: the
    // one sent into the virtual microphone too ("Mic"). Each plays id 0.
    TakeEditor(BusyFlags& flags, StatusSink status, engine::SoundPlayer& phones, engine::SoundPlayer& toMic,
        engine::EngineState& state);

    // A new take (from a recording or the Last buffer); announce: "Recorded <length>".
    void setTake(clip::SoundRef sound, bool announce);
    bool hasTake() const;
    int64_t length() const; // frames of the timeline
    double seconds() const;
    const clip::SoundRef& source() const { return source_; }
    const std::vector<Range>& segments() const { return segments_; }
    uint32_t takeCounter() const { return takeCounter_; }
    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    // Built when first asked for after a change, so that an edit itself
    // costs only its segment lists.
    const TakeOutline& outline() const;

    // Selection and view, in seconds on the timeline, normalised after every change.
    void setSelection(double start, double end);
    double selectionStart() const { return selStart_; }
    double selectionEnd() const { return selEnd_; }
    void setView(double start, double length);
    double viewStart() const { return viewStart_; }
    double viewLength() const { return viewLength_; }
    // A wheel step over the waveform at timeline time atSeconds (positive zooms in).
    void zoom(int steps, double atSeconds);

    // The commands; each reports through the status sink and returns whether it changed the take.
    bool cutSelection();
    bool keepSelection();
    bool trimSilence();
    bool undo();
    bool redo();
    void stepFade(bool fadeIn, int direction); // ±0.25 s, 0..10 s
    double fadeIn() const { return fadeIn_; }
    double fadeOut() const { return fadeOut_; }
    // "Play" (toMic false) and "Mic": toggles that player; plays the selection or the whole take.
    void play(bool toMic);
    void stopPlayback();
    bool playing(bool toMic) const;
    // The play cursor in timeline seconds while a player plays.
    std::optional<double> playCursor() const;
    // The clear button: everything back to empty.
    void clear();

    // The timeline range [a, b) rendered with the fades and joint dips.
    // Without userFades (the effects input) the ends get only the 3 ms minimum.
    clip::SoundRef render(int64_t a, int64_t b, bool userFades = true) const;
    // "Save": the request for the chosen path and format (the whole take,
    // rendered); none when there is nothing to save. Sets the saving flag and
    // "Saving clip..." when it returns one.
    std::optional<SaveRequest> save(const std::wstring& path, int32_t format);
    // An effects result replacing the sound: with inPlace no undo entry.
    void replaceSound(clip::SoundRef sound, bool inPlace);

private:
    enum class Preview { None, Phones, Mic };

    bool commandAllowed() const;
    // The source ranges that make up timeline [a, b).
    std::vector<Range> extract(int64_t a, int64_t b) const;
    void commit(std::vector<Range> segments);
    void install(clip::SoundRef source, std::vector<Range> segments);
    void rebuildView();
    void normalise();
    // The largest |sample| of source frames [start, end).
    int32_t sourcePeak(int64_t start, int64_t end) const;

    BusyFlags& flags_;
    StatusSink status_;
    engine::SoundPlayer& phones_;
    engine::SoundPlayer& toMic_;
    engine::EngineState& state_;

    struct Entry {
        clip::SoundRef source;
        std::vector<Range> segments;
    };
    // Undo and redo: the top of from becomes the take, the take goes onto to.
    bool restore(std::vector<Entry>& from, std::vector<Entry>& to, const wchar_t* text);

    clip::SoundRef source_;
    std::vector<Range> segments_;
    std::vector<Entry> undo_, redo_;
    uint32_t takeCounter_ = 0;
    int64_t length_ = 0; // frames of the timeline, the sum of segments_
    // The largest |sample| of each kPeakBlock frames of peaksSource_, built
    // with the first outline of a sound so that later outlines read blocks.
    mutable clip::SoundRef peaksSource_;
    mutable std::vector<uint16_t> blockPeaks_;
    mutable TakeOutline outline_;
    mutable bool outlineStale_ = false;
    double selStart_ = 0, selEnd_ = 0, viewStart_ = 0, viewLength_ = 0;
    double fadeIn_ = 0, fadeOut_ = 0;
    double playOrigin_ = 0;  // timeline seconds where the playing render starts
    int64_t playFrames_ = 0; // frames of the playing render
    Preview preview_ = Preview::None;
};

} // namespace recorder
