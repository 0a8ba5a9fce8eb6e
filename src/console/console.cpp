#include "console/console.h"

namespace console {

Console::Console(Platform platform, engine::BlockSteps* steps)
    : platform_(std::move(platform)),
      environments_(platform_.files, platform_.responseFolder),
      chain_(environments_, settings_),
      engine_({platform_.clock, platform_.devices, settings_, state_, reports_, rings_, steps ? *steps : chain_,
          platform_.keys}),
      thread_(engine_, platform_.clock, state_),
      cable_({platform_.clock, platform_.devices, settings_, state_, platform_.machineRegistry, platform_.files,
          platform_.web, platform_.processes, platform_.signatures, platform_.cableFolder, platform_.vendorSite,
          &reports_})
{
    if (platform_.registry)
        registry_.emplace(*platform_.registry);
    // The clip player and the application capture join here when they arrive.
    chain_.setSources({nullptr, &pads_, nullptr, &previewToMic_, &previewPhones_});
    // Finished sounds are freed where the rooms are, off the engine thread.
    for (engine::SoundPlayer* player : {&pads_, &previewToMic_, &previewPhones_})
        player->setReaper(&chain_.rooms().reaper());
}

Console::~Console()
{
    speakerTest_.stopSpeakerTest();
    stopEngineThread();
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
