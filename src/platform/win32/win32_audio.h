#pragma once
// Audio endpoints and streams on the multimedia device enumerator and WASAPI,
// and audio thread registration with the multimedia class scheduler.

#include "platform/audio_endpoints.h"

#include <cstdint>
#include <memory>
#include <string>

struct IAudioClient;

namespace platform::win32 {

// Every call brings COM up on its thread (multithreaded apartment) when needed.
std::unique_ptr<AudioDevices> makeAudioDevices();

// An audio client activated elsewhere (per-process loopback), taking over
// the caller's reference.
std::unique_ptr<AudioClient> adoptAudioClient(IAudioClient* client);

// The last failing platform result on this thread, with where it came from.
struct AudioError {
    int32_t hresult = 0;
    const char* context = "";
};
AudioError lastAudioError();

} // namespace platform::win32
