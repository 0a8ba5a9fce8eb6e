#include "clip/reader.h"

namespace clip {

OpenedReader openReader(platform::Media& media, const std::wstring& source, platform::ReaderUse use)
{
    OpenedReader opened;
    opened.reader = media.openReader(source, use, opened.code);
    if (!opened.reader || !opened.reader->selectFirstAudioStream()) {
        opened.reader.reset();
        opened.failure = OpenFailure::CannotOpen;
        if (opened.code == platform::kMediaOk)
            opened.code = platform::kMediaFailed;
        return opened;
    }
    platform::MediaReader& reader = *opened.reader;
    if (reader.requestOutput({true, 2, platform::kSampleRate, 32, 0})) {
        opened.layout = {2, 32, true, platform::kSampleRate, 0, true};
        return opened;
    }
    platform::AudioType native;
    if (!reader.nativeType(native) || native.sampleRate < 8000 || native.channels < 1 || native.channels > 8) {
        opened.reader.reset();
        opened.failure = OpenFailure::NoFormat;
        return opened;
    }
    for (const bool isFloat : {true, false}) {
        const uint32_t bits = isFloat ? 32 : 16;
        if (reader.requestOutput({isFloat, native.channels, native.sampleRate, bits, 0})) {
            opened.layout = {native.channels, bits, isFloat, native.sampleRate, native.channelMask, false};
            return opened;
        }
    }
    opened.reader.reset();
    opened.failure = OpenFailure::NoFormat;
    return opened;
}

} // namespace clip
