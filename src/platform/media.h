#pragma once
// Decoding and encoding audio files as the platform offers it (Media
// Foundation on Windows): a source reader that opens a file or a link,
// negotiates an output type, reads samples and seeks; the encoder output
// types the platform offers for a format; and a sink writer that encodes
// 16-bit stereo PCM into a file. Result codes are the platform's own
// (HRESULTs on Windows), 0 for success, kept for the log and the messages.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

using MediaCode = uint32_t;
inline constexpr MediaCode kMediaOk = 0;
inline constexpr MediaCode kMediaFailed = 0x80004005; // a failure without a more precise code

// An uncompressed audio type: what a reader is asked to deliver, or what a
// source natively carries.
struct AudioType {
    bool isFloat = true;
    uint32_t channels = 2;
    uint32_t sampleRate = 48000;
    uint32_t bitsPerSample = 32;
    uint32_t channelMask = 0; // native types only; 0 when the source names no positions
};

enum class ReadStatus {
    Data,        // a sample with data: bytes and timestamp are set
    NoData,      // a sample without a buffer that could be locked, or a gap: read on
    EndOfStream, // the stream has ended
    Error,       // the read failed; code says why
};

// One read sample. bytes stay valid until the next read or until the reader goes.
struct MediaSample {
    std::span<const uint8_t> bytes;
    int64_t timestamp = 0; // presentation time, 100 ns units
};

class MediaReader {
public:
    virtual ~MediaReader() = default;
    // Deselects every stream and selects the first audio stream; false when there is none.
    virtual bool selectFirstAudioStream() = 0;
    // Asks the reader to deliver the first audio stream as this type (a
    // partial type: subtype, channels, rate, bits, block align, bytes per
    // second, all samples independent). True when the reader accepts it.
    virtual bool requestOutput(const AudioType& type) = 0;
    // The first audio stream's native type (rate, channels, channel mask).
    virtual bool nativeType(AudioType& type) = 0;
    // The presentation duration in 100 ns units, when the source gives one.
    virtual std::optional<int64_t> duration() = 0;
    // Flushes the audio stream and moves to position (100 ns); false when refused.
    virtual bool setPosition(int64_t position) = 0;
    // The next sample of the selected audio stream.
    virtual ReadStatus read(MediaSample& sample, MediaCode& code) = 0;
};

// How a reader is opened: the streaming player asks for the platform's
// advanced video processing (so that video files give their sound), the
// loaders pass no attributes.
enum class ReaderUse { Streaming, Loading };

enum class EncoderFormat { Mp3, Aac, WmaV8, Flac };

// One output type the platform's encoder offers.
struct EncoderType {
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint32_t averageBytesPerSecond = 0;
    uint32_t bitsPerSample = 0;  // 0 when the type does not say
    std::shared_ptr<void> native; // the platform's own description, for createWriter
};

// A file being encoded; nothing is final until finalize() returns kMediaOk.
class MediaWriter {
public:
    virtual ~MediaWriter() = default;
    // One sample of interleaved 16-bit stereo frames at time, lasting
    // duration (both 100 ns units).
    virtual MediaCode write(const int16_t* interleaved, uint32_t frames, int64_t time, int64_t duration) = 0;
    virtual MediaCode finalize() = 0;
};

class Media {
public:
    virtual ~Media() = default;
    // The decoding libraries are present (checked once per process).
    virtual bool available() = 0;
    // Prepares the calling worker thread for media calls (the multithreaded
    // COM apartment on Windows) until the returned token is released.
    virtual std::shared_ptr<void> enterWorkerThread() { return nullptr; }
    // A reader on a local path or a link; nullptr with code when it cannot be created.
    virtual std::unique_ptr<MediaReader> openReader(const std::wstring& pathOrLink, ReaderUse use, MediaCode& code) = 0;
    // Every output type the platform's encoder offers for format, in its
    // order; empty when it offers none or cannot say.
    virtual std::vector<EncoderType> encoderTypes(EncoderFormat format) = 0;
    // A writer on path (its container chosen from the extension) with one
    // stream of output type, fed 16-bit stereo PCM at sampleRate; writing has begun.
    virtual std::unique_ptr<MediaWriter> createWriter(
        const std::wstring& path, const EncoderType& output, uint32_t sampleRate, MediaCode& code) = 0;
};

} // namespace platform
