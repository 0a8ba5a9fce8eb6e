// A stand-in for a music player: a titled window and a 440 Hz tone on the
// default playback endpoint until it is ended (or after the seconds given).

#include "platform/win32/win32_audio.h"

#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    const int seconds = argc > 1 ? _wtoi(argv[1]) : 60;
    // The window makes the player a program the list shows; it is not needed for the sound.
    CreateWindowExW(0, L"STATIC", L"Tone player", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 80, nullptr, nullptr,
        GetModuleHandleW(nullptr), nullptr);

    auto devices = platform::win32::makeAudioDevices();
    platform::AudioResult result = platform::AudioResult::Failed;
    auto client = devices->activate(devices->defaultEndpointId(platform::Flow::Render), platform::Flow::Render, result);
    platform::SharedStreamParams params;
    params.bufferDurationMicros = 100000;
    if (!client || client->initializeShared(params) != platform::AudioResult::Ok)
        return 2;
    auto render = client->renderService(result);
    uint32_t bufferFrames = 0;
    if (!render || client->bufferSize(bufferFrames) != platform::AudioResult::Ok
        || client->start() != platform::AudioResult::Ok)
        return 3;

    std::vector<float> block;
    uint64_t frame = 0;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        uint32_t queued = 0;
        if (render->padding(queued) != platform::AudioResult::Ok)
            return 4;
        const uint32_t frames = bufferFrames - queued;
        block.resize(size_t{frames} * 2);
        for (uint32_t i = 0; i < frames; ++i, ++frame)
            block[2 * i] = block[2 * i + 1] = 0.3f
                * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(frame) / 48000.0));
        if (frames > 0 && render->write(block.data(), frames) != platform::AudioResult::Ok)
            return 5;
        Sleep(10);
    }
    return 0;
}
