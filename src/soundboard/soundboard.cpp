#include "soundboard/soundboard.h"

namespace soundboard {

// Stubs until the pads and the library land.
std::wstring defaultTitle(const std::wstring& path)
{
    return path;
}
TrimRange normaliseTrim(double start, double end, double)
{
    return {start, end};
}
TrimRange initialTrim(double from, double to, double)
{
    return {from, to};
}

Soundboard::Soundboard(engine::SoundPlayer& player, platform::Clock& clock, platform::RegistryStore* registry)
    : player_(player), clock_(clock), registry_(registry)
{
}

void Soundboard::load()
{
    if (registry_)
        ++previewGeneration_;
}
void Soundboard::save() { }
void Soundboard::startPendingLoads() { }
void Soundboard::triggerPad(int) { }
void Soundboard::stopAllPads() { }
void Soundboard::startPadLoad(int) { }
void Soundboard::onPadLoaded(const PadLoadResult&) { }
int Soundboard::addFiles(const std::vector<std::wstring>&)
{
    return 0;
}
void Soundboard::removeLibraryItem() { }
void Soundboard::assignLibraryItem(int) { }
void Soundboard::clearPad(int) { }
void Soundboard::renamePad(int, const std::wstring&) { }
void Soundboard::saveTrim(int, double, double) { }
void Soundboard::setPadKey(int, uint32_t) { }
void Soundboard::setStopKey(uint32_t) { }
void Soundboard::startPreview(const std::wstring&, double, double) { }
void Soundboard::stopPreview() { }

void Soundboard::setStatus(const std::wstring& text)
{
    status_ = text;
    statusTime_ = static_cast<double>(clock_.nowMicros()) / 1e6;
    ++statusSerial_;
}

void Soundboard::redraw()
{
    if (redraw_)
        redraw_();
}

} // namespace soundboard
