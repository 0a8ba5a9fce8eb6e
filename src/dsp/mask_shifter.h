#pragma once
// The resampling pitch shifter of the stereo mask processor: the input goes
// into three rings (left, right and their mid), and the output reads them at
// `ratio` frames per frame in grains of 2400 frames (50 ms). Each new grain
// starts far enough behind the writer that it cannot overtake it within its
// length and crossfade, moved by a similarity search on the mid ring so that
// it continues the old grain's waveform; the old grain keeps running through
// a 480-frame sin² crossfade. Reads are Catmull-Rom cubic.

#include "dsp/crossfade.h"
#include "dsp/delay_ring.h"

#include <cstdint>

namespace dsp {

class ResamplingShifter {
public:
    // Sizes the rings, builds the crossfade table, clears everything.
    void prepare(double sampleRate);
    // Clears the rings and the read state.
    void clear() noexcept;
    // The next frame starts a grain at the nominal lag for `ratio`, without a
    // crossfade and without a search (there is no old grain to continue).
    void restart(double ratio) noexcept;

    // Rings only: keeps the history current while the shifter is not heard.
    void write(float left, float right) noexcept;
    // Writes one frame and replaces it with the shifted frame.
    void process(float& left, float& right, double ratio) noexcept;

    // Offset in −search..+search from `nominal` whose `crossfade()` frames of
    // the mid ring best continue those at `reference`: normalised correlation,
    // coarse in steps of 4 over every second frame, fine ±3 over every frame;
    // the first maximum wins; a silent reference gives 0.
    int searchOffset(int64_t reference, int64_t nominal) const noexcept;
    // How far behind the newest frame a grain starts before its search.
    double nominalLag(double ratio) const noexcept;

    int grain() const { return grain_; }
    int crossfade() const { return crossfade_; }
    int search() const { return search_; }
    size_t ringLength() const { return rings_[0].length(); }
    int64_t written() const { return rings_[0].writeCounter(); }
    // The read position of the grain being heard (absolute ring position).
    double readPosition() const { return read_; }

private:
    void startGrain(double ratio) noexcept;
    double correlation(int64_t reference, int64_t candidate, int step) const noexcept;

    int grain_ = 2400;
    int crossfade_ = 480;
    int search_ = 576;
    CrossfadeTable fade_;
    DelayRing<float> rings_[3]; // left, right, mid
    double read_ = 0.0;
    double oldRead_ = 0.0;
    double oldIncrement_ = 1.0;
    int played_ = 0;        // frames of the current grain played
    int fadePosition_ = -1; // frames into the crossfade; −1: none running
};

} // namespace dsp
