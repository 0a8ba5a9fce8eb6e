#include "console/console.h"

#include "clip/loaders.h"
#include "console/offline_fx.h"

namespace console {

namespace {

// Media for a platform without decoders: everything reports them missing.
class NoMedia final : public platform::Media {
public:
    bool available() override { return false; }
    std::unique_ptr<platform::MediaReader> openReader(
        const std::wstring&, platform::ReaderUse, platform::MediaCode& code) override
    {
        code = platform::kMediaFailed;
        return nullptr;
    }
    std::vector<platform::EncoderType> encoderTypes(platform::EncoderFormat) override { return {}; }
    std::unique_ptr<platform::MediaWriter> createWriter(
        const std::wstring&, const platform::EncoderType&, uint32_t, platform::MediaCode& code) override
    {
        code = platform::kMediaFailed;
        return nullptr;
    }
};

} // namespace

Console::Console(Platform platform, engine::BlockSteps* steps)
    : platform_(std::move(platform)),
      environments_(platform_.files, platform_.responseFolder),
      chain_(environments_, settings_),
      engine_({platform_.clock, platform_.devices, settings_, state_, reports_, rings_, steps ? *steps : chain_,
          platform_.keys}),
      thread_(engine_, platform_.clock, state_),
      cable_({platform_.clock, platform_.devices, settings_, state_, platform_.machineRegistry, platform_.files,
          platform_.web, platform_.processes, platform_.signatures, platform_.cableFolder, platform_.vendorSite,
          &reports_}),
      noMedia_(platform_.media ? nullptr : std::make_unique<NoMedia>()),
      media_(platform_.media ? platform_.media : noMedia_.get()),
      clipLog_(platform_.toolsFolder.empty() ? nullptr : platform_.files, platform_.toolsFolder),
      clipPlayer_(*media_, platform_.clock, &clipLog_),
      takeEditor_(recorderFlags_, [this](const std::wstring& text) { reportRecorder(text); }, previewPhones_,
          previewToMic_, state_),
      recorder_(settings_, rings_, outputTap_, [this] { return settings_.deviceName(settings::DeviceKind::Spk); },
          recorderFlags_, takeEditor_, [this](const std::wstring& text) { reportRecorder(text); }),
      fxApply_(takeEditor_, recorderFlags_, [this](const std::wstring& text) { reportRecorder(text); }),
      fxRenderer_(offlineFxRenderer({platform_.files, platform_.responseFolder})),
      board_(pads_, platform_.clock, platform_.registry),
      hotkeys_(settings_, board_, platform_.hotkeys, platform_.keys, platform_.clock)
{
    if (platform_.registry)
        registry_.emplace(*platform_.registry);
    if (platform_.appAudio)
        appCapture_.emplace(*platform_.appAudio, platform_.devices, platform_.clock, settings_, state_);
    chain_.setSources({&clipPlayer_, &pads_, appCapture_ ? &*appCapture_ : nullptr, &previewToMic_, &previewPhones_});
    // Finished sounds are freed where the rooms are, off the engine thread.
    for (engine::SoundPlayer* player : {&pads_, &previewToMic_, &previewPhones_})
        player->setReaper(&chain_.rooms().reaper());
    board_.setLoader([this, media = media_](const std::wstring& path, double from, double to,
                         const std::atomic<uint8_t>* cancel, std::wstring& message) {
        // One pad decodes at a time: a dozen decoders opened at once (every
        // pad at start-up) left most of them waiting forever under wine.
        std::lock_guard one(padLoads_);
        return clip::loadSound(*media, path, 48000, soundboard::kMaxPadSeconds, from, to,
            clip::isExactSeekFormat(path), cancel, message);
    });
    if (platform_.files) {
        webFetch_.emplace(clip::WebFetchServices{*platform_.files, platform_.web, platform_.processes,
            platform_.hashes, platform_.registry, &clipLog_, platform_.toolsFolder, platform_.helperReleaseHost});
        clipPlayer_.setPageFetch([fetch = &*webFetch_](const std::wstring& link, uint32_t generation,
                                     clip::PageDecode& page, std::wstring& message) {
            return fetch->fetchPageSound(link, generation, page, message);
        });
    }
}

Console::~Console()
{
    speakerTest_.stopSpeakerTest();
    outputTap_.stopTap();
    if (appCapture_)
        appCapture_->stopAppCapture();
    clipPlayer_.stop();
    stopEngineThread();
}

recorder::EffectSnapshot Console::fxSnapshot() const
{
    return recorder::takeEffectSnapshot(settings_.snapshot(), reports_.latest().irLoaded);
}

void Console::reportRecorder(const std::wstring& text)
{
    recorderStatus_ = text;
    ++recorderStatusSerial_;
}

void Console::startEngineThread()
{
    // With the engine on its own thread, rooms are built on one of theirs;
    // stepped consoles build them in the block that asks.
    chain_.setRoomBuilding(engine::RoomBuilder::Mode::Threaded);
    engine::requestOpen(state_);
    thread_.start();
}

void Console::stopEngineThread()
{
    thread_.stop();
}

void Console::startCableWorker(std::function<void()> initThread, std::function<void()> endThread)
{
    cable_.startStatusWorker(std::move(initThread), std::move(endThread));
}

void Console::stopCableWorker()
{
    cable_.stopStatusWorker();
}

} // namespace console
