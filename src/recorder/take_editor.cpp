#include "recorder/take_editor.h"

namespace recorder {

TakeEditor::TakeEditor(BusyFlags& flags, StatusSink status, engine::SoundPlayer& phones, engine::SoundPlayer& toMic,
    engine::EngineState& state)
    : flags_(flags), status_(std::move(status)), phones_(phones), toMic_(toMic), state_(state)
{
}

void TakeEditor::setTake(clip::SoundRef sound, bool)
{
    // Enough of a take for the recorder until the editor's own lands.
    segments_ = {Range{0, sound ? static_cast<int64_t>(sound->frames()) : 0}};
    source_ = std::move(sound);
}
bool TakeEditor::hasTake() const
{
    return source_ && !segments_.empty();
}
int64_t TakeEditor::length() const
{
    return 0;
}
double TakeEditor::seconds() const
{
    return 0.0;
}
void TakeEditor::setSelection(double, double) { }
void TakeEditor::setView(double, double) { }
void TakeEditor::zoom(int, double) { }
bool TakeEditor::cutSelection()
{
    return false;
}
bool TakeEditor::keepSelection()
{
    return false;
}
bool TakeEditor::trimSilence()
{
    return false;
}
bool TakeEditor::undo()
{
    return false;
}
bool TakeEditor::redo()
{
    return false;
}
void TakeEditor::stepFade(bool, int) { }
void TakeEditor::play(bool) { }
void TakeEditor::stopPlayback() { }
bool TakeEditor::playing(bool) const
{
    return false;
}
std::optional<double> TakeEditor::playCursor() const
{
    return std::nullopt;
}
void TakeEditor::clear() { }
clip::SoundRef TakeEditor::render(int64_t, int64_t) const
{
    return nullptr;
}
std::optional<SaveRequest> TakeEditor::save(const std::wstring&, int32_t)
{
    return std::nullopt;
}
void TakeEditor::replaceSound(clip::SoundRef, bool) { }
bool TakeEditor::commandAllowed() const
{
    return !flags_.busy() && hasTake();
}
void TakeEditor::commit(std::vector<Range>) { }
void TakeEditor::rebuildView() { }

} // namespace recorder
