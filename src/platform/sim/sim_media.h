#pragma once
// Media of a test's own: sources by path or link with a scripted native
// layout, length, signal and faults (types the reader refuses, read errors,
// slow reads on the clock, seeks refused); the encoder output types a test
// offers; and a writer that puts what it is fed into a Files (such as
// MemoryFiles), with failures at a chosen step. Any thread may read while a
// test scripts or inspects.

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/media.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::sim {

// The signal of a source: sample of channel at a native frame index.
using MediaSignal = std::function<float(uint64_t frame, uint32_t channel)>;

struct SimMediaSource {
    // The native layout; its rate and channel count must be what the signal means.
    AudioType native{false, 2, 44100, 16, 0};
    uint64_t frames = 44100;                // native frames in the whole source
    MediaSignal signal;                     // none: a 440 Hz sine at 0.5 on every channel
    bool readerConverts = false;            // the reader delivers 48 kHz stereo float when asked
    bool acceptsFloat = true;               // the native rate and channels as 32-bit float
    bool acceptsPcm16 = true;               // ... as 16-bit PCM
    uint32_t framesPerSample = 1024;        // native frames per read sample
    bool hasDuration = true;                // the source gives its duration (frames / rate)
    bool seekable = true;                   // setPosition refused when false
    int64_t firstTimestamp = 0;             // 100 ns, the first sample's time
    int noDataSamplesFirst = 0;             // samples without data before the first one with data
    std::optional<uint64_t> failAtFrame;    // a read at or beyond this native frame fails
    MediaCode failCode = 0x80070017;        // the code that failure reports
    int64_t readDelayMicros = 0;            // each read first waits this long on the clock
};

// What a test can see of the readers made on one source.
struct SimMediaStats {
    int opens = 0;
    int reads = 0;
    int seeks = 0;           // setPosition calls, refused or not
    int64_t lastSeek = -1;   // 100 ns, the last position asked for
    int openReaders = 0;     // readers alive now
};

class SimMedia final : public Media {
public:
    // clock paces slow reads; none: reads never wait. files receives what
    // writers encode; none: every writer fails to open.
    explicit SimMedia(Clock* clock = nullptr, Files* files = nullptr);
    ~SimMedia() override;

    bool available() override;
    std::unique_ptr<MediaReader> openReader(const std::wstring& pathOrLink, ReaderUse use, MediaCode& code) override;
    std::vector<EncoderType> encoderTypes(EncoderFormat format) override;
    std::unique_ptr<MediaWriter> createWriter(
        const std::wstring& path, const EncoderType& output, uint32_t sampleRate, MediaCode& code) override;

    // Test controls: readers. An unknown path fails to open with 0xC00D36C4.
    void addSource(const std::wstring& pathOrLink, SimMediaSource source);
    void removeSource(const std::wstring& pathOrLink);
    void setAvailable(bool available);
    SimMediaStats stats(const std::wstring& pathOrLink) const;
    ReaderUse lastUse() const;

    // Test controls: encoding. As the platform's writer does, a writer
    // creates the file at its path at once and appends each sample's bytes
    // (the 16-bit frames as they came) as it is written, so a writer that
    // fails leaves a half file behind.
    void offerEncoderTypes(EncoderFormat format, std::vector<EncoderType> types);
    void failWriterCreate(MediaCode code);         // 0: writers open
    void failWriteAt(int sampleIndex, MediaCode code); // -1: writes succeed
    void failFinalize(MediaCode code);             // 0: finalize succeeds
    int writerSamples() const;                     // samples written by the last writer
    std::vector<std::pair<int64_t, int64_t>> writerTimes() const; // (time, duration) of each

    // Everything the readers and writers share with the test, under mutex;
    // readers keep it alive past the SimMedia.
    struct Shared {
        mutable std::mutex mutex;
        Clock* clock = nullptr;
        Files* files = nullptr;
        bool available = true;
        ReaderUse lastUse = ReaderUse::Loading;
        std::map<std::wstring, SimMediaSource> sources;
        std::map<std::wstring, SimMediaStats> stats;
        std::map<EncoderFormat, std::vector<EncoderType>> encoderTypes;
        MediaCode writerCreateCode = 0;
        int failWriteIndex = -1;
        MediaCode failWriteCode = 0;
        MediaCode finalizeCode = 0;
        std::vector<std::pair<int64_t, int64_t>> writerTimes;
    };

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace platform::sim
