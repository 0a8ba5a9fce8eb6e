#include "recorder/recorder.h"

namespace recorder {

std::wstring lastLabel(int32_t)
{
    return L"Last: Off";
}

void mixSources(const std::vector<int16_t>&, const std::vector<int16_t>&, std::vector<int16_t>& out)
{
    out.clear();
}

Recorder::Recorder(settings::Settings& settings, engine::RecorderRings& rings, engine::OutputTap& tap,
    engine::EndpointSource speaker, BusyFlags& flags, TakeEditor& editor, StatusSink status)
    : settings_(settings), rings_(rings), tap_(tap), speaker_(std::move(speaker)), flags_(flags), editor_(editor),
      status_(std::move(status))
{
}

Recorder::~Recorder()
{
    tap_.stopTap();
}

void Recorder::toggleRecording() { }
bool Recorder::startRecording()
{
    return false;
}
void Recorder::stopRecording() { }
void Recorder::drainTake() { }
double Recorder::recordedSeconds() const
{
    return 0.0;
}
void Recorder::pumpLast() { }
void Recorder::reconfigureLast() { }
void Recorder::grabLast() { }
std::optional<SaveRequest> Recorder::saveLast(const std::wstring&, const media::LocalTime&)
{
    return std::nullopt;
}
clip::SoundRef Recorder::lastExcerpt() const
{
    return nullptr;
}
void Recorder::stepKeepLast(int) { }
void Recorder::toggleSource(int32_t) { }
void Recorder::toggleQuiet() { }
void Recorder::syncTap() { }

} // namespace recorder
