#pragma once
// The composition root: one console owns the settings record, the stores, the
// engine's requests and report, the recorder rings, the effect chain with its
// environments, the sound players and the engine, over a platform it is given.
// The program runs the engine on its own thread; the headless tool, the tests
// and the benchmarks step it (sim_console.h). Features join as members here.

#include "appcapture/app_capture.h"
#include "cable/cable.h"
#include "clip/clip_log.h"
#include "clip/player.h"
#include "clip/web_fetch.h"
#include "console/background_workers.h"
#include "engine/effect_chain.h"
#include "engine/engine.h"
#include "engine/engine_report.h"
#include "engine/engine_state.h"
#include "engine/engine_thread.h"
#include "engine/output_tap.h"
#include "engine/recorder_ring.h"
#include "engine/reverb_environments.h"
#include "engine/sound_player.h"
#include "engine/speaker_test.h"
#include "platform/audio_endpoints.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/global_hotkeys.h"
#include "platform/hashes.h"
#include "platform/key_state.h"
#include "platform/media.h"
#include "platform/registry_store.h"
#include "recorder/fx_apply.h"
#include "recorder/recorder.h"
#include "recorder/take_editor.h"
#include "settings/registry_settings.h"
#include "settings/settings.h"
#include "soundboard/hotkeys.h"
#include "soundboard/soundboard.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace console {

// The outside services the console runs over; they outlive it.
struct Platform {
    platform::Clock& clock;
    platform::AudioDevices& devices;
    // The keys as they are now, for the glitch hotkey; none: never held.
    const platform::KeyState* keys = nullptr;
    // Where the cavern's impulse response file is looked for; no files: it
    // is not looked for and the cavern runs procedurally.
    platform::Files* files = nullptr;
    std::wstring responseFolder;
    // The per-user registry; none: no registry store.
    platform::RegistryStore* registry = nullptr;
    // The virtual cable's services: the local machine's registry, the web,
    // child programs and signature checks; each absent one disables what
    // needs it. cableFolder is cable::cableFolderFor(LOCALAPPDATA).
    platform::RegistryStore* machineRegistry = nullptr;
    platform::Web* web = nullptr;
    platform::Processes* processes = nullptr;
    platform::Signatures* signatures = nullptr;
    std::wstring cableFolder{};
    cable::VendorSite vendorSite{};
    // Decoding and encoding of clips and takes; none: clips fail with the
    // missing-decoder message. toolsFolder holds the media log (empty: no
    // log; the log needs files too).
    platform::Media* media = nullptr;
    std::wstring toolsFolder{};
    // The system's global hotkeys and key names; none: nothing is registered.
    platform::GlobalHotkeys* hotkeys = nullptr;
    // File checksums for the download helper; none: the helper never runs.
    platform::Hashes* hashes = nullptr;
    // Processes, audio sessions, per-process loopback and the audio policy,
    // for another program's sound; none: no application capture.
    platform::AppAudio* appAudio = nullptr;
    // Where the download helper comes from (tests: a server of their own).
    std::wstring helperReleaseHost = clip::kHelperReleaseHost;
};

class Console {
public:
    // steps, when given, replaces the program's effect chain in the block
    // cycle (tests of the engine itself); it outlives the console.
    explicit Console(Platform platform, engine::BlockSteps* steps = nullptr);
    ~Console(); // stops the speaker test and the engine thread
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    settings::Settings& settings() { return settings_; }
    // The registry store of the settings, when the platform has a registry.
    settings::RegistrySettings* registrySettings() { return registry_ ? &*registry_ : nullptr; }
    engine::EngineState& state() { return state_; }
    engine::EngineReports& reports() { return reports_; }
    engine::EngineReport report() const { return reports_.latest(); }
    engine::RecorderRings& rings() { return rings_; }
    engine::EffectChain& chain() { return chain_; }
    engine::SoundPlayer& pads() { return pads_; }
    engine::SoundPlayer& previewToMic() { return previewToMic_; }
    engine::SoundPlayer& previewPhones() { return previewPhones_; }
    engine::Engine& engine() { return engine_; }
    cable::Cable& cable() { return cable_; }
    engine::SpeakerTest& speakerTest() { return speakerTest_; }
    clip::Player& clipPlayer() { return clipPlayer_; }
    clip::ClipLog& clipLog() { return clipLog_; }
    // The media services the clip player uses (an unavailable stand-in when
    // the platform has none).
    platform::Media& media() { return *media_; }
    engine::OutputTap& outputTap() { return outputTap_; }
    recorder::Recorder& recorder() { return recorder_; }
    recorder::TakeEditor& takeEditor() { return takeEditor_; }
    recorder::BusyFlags& recorderFlags() { return recorderFlags_; }
    recorder::FxApply& fxApply() { return fxApply_; }
    soundboard::Soundboard& soundboard() { return board_; }
    soundboard::Hotkeys& hotkeys() { return hotkeys_; }
    // The web page fetch behind the clip player's page links; none without files.
    clip::WebFetch* webFetch() { return webFetch_ ? &*webFetch_ : nullptr; }
    // Another program's sound; none when the platform has no application audio.
    appcapture::AppCapture* appCapture() { return appCapture_ ? &*appCapture_ : nullptr; }
    // Apply FX: the settings it renders with now, and the render a worker runs
    // (the program's effect chain over the take as a clip, offline_fx.h).
    recorder::EffectSnapshot fxSnapshot() const;
    const recorder::FxRenderer& fxRenderer() const { return fxRenderer_; }
    // The recorder page's status line: its text and a count that moves with every report.
    const std::wstring& recorderStatus() const { return recorderStatus_; }
    uint32_t recorderStatusSerial() const { return recorderStatusSerial_; }
    // A report the window makes itself (a save's result from its worker).
    void setRecorderStatus(const std::wstring& text) { reportRecorder(text); }
    const Platform& platform() const { return platform_; }
    // Short-lived workers count themselves here; shutdown waits on both.
    BackgroundWorkers& workers() { return workers_; }
    BackgroundWorkers& fetches() { return fetches_; } // web clip fetches

    // The program: the engine on its own thread, asked to open its devices.
    void startEngineThread();
    // Raises the stop request and joins the engine thread.
    void stopEngineThread();
    // The cable's status worker, started before the engine thread; the hooks
    // run first and last on its thread (the program's COM apartment).
    void startCableWorker(std::function<void()> initThread = {}, std::function<void()> endThread = {});
    void stopCableWorker();

private:
    void reportRecorder(const std::wstring& text);

    Platform platform_;
    settings::Settings settings_;
    std::optional<settings::RegistrySettings> registry_;
    engine::EngineState state_;
    engine::EngineReports reports_;
    engine::RecorderRings rings_;
    engine::ReverbEnvironments environments_;
    engine::EffectChain chain_;
    engine::SoundPlayer pads_, previewToMic_, previewPhones_;
    engine::Engine engine_;
    engine::EngineThread thread_;
    cable::Cable cable_;
    engine::SpeakerTest speakerTest_{platform_.clock, platform_.devices, settings_};
    std::unique_ptr<platform::Media> noMedia_;
    platform::Media* media_;
    clip::ClipLog clipLog_;
    clip::Player clipPlayer_;
    engine::OutputTap outputTap_{platform_.clock, platform_.devices};
    recorder::BusyFlags recorderFlags_;
    std::wstring recorderStatus_;
    uint32_t recorderStatusSerial_ = 0;
    recorder::TakeEditor takeEditor_;
    recorder::Recorder recorder_;
    recorder::FxApply fxApply_;
    recorder::FxRenderer fxRenderer_;
    std::optional<clip::WebFetch> webFetch_;
    soundboard::Soundboard board_;
    soundboard::Hotkeys hotkeys_;
    std::optional<appcapture::AppCapture> appCapture_;
    std::mutex padLoads_;
    BackgroundWorkers workers_, fetches_;
};

} // namespace console
