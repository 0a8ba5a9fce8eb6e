#include "soundboard/soundboard.h"

#include "soundboard/hotkeys.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <limits>
#include <optional>
#include <utility>

namespace soundboard {

namespace {

constexpr double kMillis = 1000.0;
constexpr size_t kVisibleRows = 8; // the library shows eight rows before it scrolls
const wchar_t kFileValue[] = L"File";

std::wstring padValue(int pad, const wchar_t* field)
{
    return L"Pad" + std::to_wstring(pad) + field;
}

std::wstring fileValue(size_t index)
{
    return kFileValue + std::to_wstring(index);
}

// Seconds stored as whole milliseconds, rounded to nearest; what cannot be
// stored (negative, NaN, too large) is clamped.
uint32_t storedMillis(double seconds)
{
    const double ms = std::round(seconds * kMillis);
    if (!(ms > 0.0))
        return 0;
    constexpr double kMax = std::numeric_limits<uint32_t>::max();
    return ms >= kMax ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(ms);
}

// "File7" (any letter case, as registry names are) → 7; anything else → none.
std::optional<size_t> fileIndex(const std::wstring& name)
{
    const size_t prefix = std::size(kFileValue) - 1;
    if (name.size() <= prefix || name.size() > prefix + 9)
        return std::nullopt;
    for (size_t i = 0; i < prefix; ++i) {
        if (std::towlower(name[i]) != std::towlower(kFileValue[i]))
            return std::nullopt;
    }
    size_t index = 0;
    for (size_t i = prefix; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9')
            return std::nullopt;
        index = index * 10 + static_cast<size_t>(name[i] - L'0');
    }
    return index;
}

bool holdsAFrame(const clip::SoundRef& sound)
{
    return sound && sound->samples.size() * sizeof(int16_t) > 3;
}

double finite(double v)
{
    return std::isfinite(v) ? v : 0.0;
}

} // namespace

std::wstring defaultTitle(const std::wstring& path)
{
    // Dropped and chosen paths use "\"; "/" cannot be part of a file name either way.
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos)
        name.resize(dot);
    return name;
}

TrimRange normaliseTrim(double start, double end, double duration)
{
    duration = finite(duration);
    if (duration <= 0.0)
        return {};
    start = std::clamp(finite(start), 0.0, duration);
    end = std::clamp(finite(end), 0.0, duration);
    if (start > end)
        std::swap(start, end);
    if (end - start < kMinTrimSeconds) {
        if (start + kMinTrimSeconds <= duration) {
            end = start + kMinTrimSeconds;
        } else {
            end = duration;
            start = std::max(duration - kMinTrimSeconds, 0.0);
        }
    }
    return {start, end};
}

TrimRange initialTrim(double from, double to, double duration)
{
    const double start = std::max(from, 0.0);
    const double end = from < to ? std::min(to, duration) : std::min(duration, kMaxPadSeconds);
    // A file that got shorter since the range was saved still opens on a usable range.
    return normaliseTrim(start, end, duration);
}

Soundboard::Soundboard(engine::SoundPlayer& player, platform::Clock& clock, platform::RegistryStore* registry)
    : player_(player), clock_(clock), registry_(registry)
{ }

void Soundboard::load()
{
    if (!registry_ || !registry_->keyExists(kSoundboardKey))
        return;
    platform::RegistryStore& reg = *registry_;

    library_.clear();
    const size_t count = std::min<size_t>(reg.readDword(kSoundboardKey, L"Count").value_or(0), kLibraryLimit);
    for (size_t i = 0; i < count; ++i) {
        std::wstring path = reg.readString(kSoundboardKey, fileValue(i), kLibraryPathChars).value_or(L"");
        // Entries stay unique, as adding keeps them, even when the store repeats one.
        if (!path.empty() && std::find(library_.begin(), library_.end(), path) == library_.end())
            library_.push_back(std::move(path));
    }
    selectedRow = std::min(selectedRow, static_cast<int>(library_.size()) - 1);
    firstRow = 0;

    const auto validKey = [&](const std::wstring& name) {
        const uint32_t code = reg.readDword(kSoundboardKey, name).value_or(0);
        return isValidKeyCode(code) ? code : 0u;
    };
    stopKey_ = validKey(L"StopKey");

    for (int i = 0; i < kPadCount; ++i) {
        Pad& pad = pads_[static_cast<size_t>(i)];
        // A load still running for the old contents must not land on the new ones.
        if (pad.cancelFlag)
            pad.cancelFlag->store(1);
        Pad fresh;
        fresh.loadGeneration = pad.loadGeneration + 1;
        fresh.path = reg.readString(kSoundboardKey, padValue(i, L"Path"), kLibraryPathChars).value_or(L"");
        fresh.title = reg.readString(kSoundboardKey, padValue(i, L"Title"), kLibraryPathChars).value_or(L"");
        fresh.key = validKey(padValue(i, L"Key"));
        fresh.from = reg.readDword(kSoundboardKey, padValue(i, L"From")).value_or(0) / kMillis;
        fresh.to = reg.readDword(kSoundboardKey, padValue(i, L"To")).value_or(0) / kMillis;
        fresh.needsLoad = !fresh.path.empty();
        if (!fresh.path.empty() && fresh.title.empty())
            fresh.title = defaultTitle(fresh.path);
        pad = std::move(fresh);
    }
    redraw();
}

void Soundboard::save()
{
    if (!registry_)
        return;
    platform::RegistryStore& reg = *registry_;
    // Individual write results are not checked: a store that cannot be
    // written leaves the previous layout, and there is no one to tell.
    reg.writeDword(kSoundboardKey, L"Count", static_cast<uint32_t>(library_.size()));
    for (size_t i = 0; i < library_.size(); ++i)
        reg.writeString(kSoundboardKey, fileValue(i), library_[i]);
    // A shrunk library leaves no stale entries behind Count.
    for (const platform::ValueInfo& value : reg.listValues(kSoundboardKey)) {
        const std::optional<size_t> index = fileIndex(value.name);
        if (index && *index >= library_.size())
            reg.deleteValue(kSoundboardKey, value.name);
    }
    reg.writeDword(kSoundboardKey, L"StopKey", stopKey_);
    for (int i = 0; i < kPadCount; ++i) {
        const Pad& pad = pads_[static_cast<size_t>(i)];
        reg.writeString(kSoundboardKey, padValue(i, L"Path"), pad.path);
        reg.writeString(kSoundboardKey, padValue(i, L"Title"), pad.title);
        reg.writeDword(kSoundboardKey, padValue(i, L"Key"), pad.key);
        reg.writeDword(kSoundboardKey, padValue(i, L"From"), storedMillis(pad.from));
        reg.writeDword(kSoundboardKey, padValue(i, L"To"), storedMillis(pad.to));
    }
}

void Soundboard::startPendingLoads()
{
    bool started = false;
    for (int i = 0; i < kPadCount; ++i) {
        const Pad& pad = pads_[static_cast<size_t>(i)];
        if (pad.needsLoad && !pad.loading && !pad.sound && !pad.path.empty()) {
            startPadLoad(i);
            started = true;
        }
    }
    if (started)
        redraw();
}

void Soundboard::triggerPad(int index)
{
    Pad* found = padWithPath(index);
    if (!found)
        return;
    Pad& pad = *found;
    if (playing(index)) {
        player_.stop(index);
    } else if (pad.sound) {
        player_.play(index, pad.sound);
    } else {
        pad.playWhenLoaded = true;
        if (!pad.loading)
            startPadLoad(index);
    }
    redraw();
}

void Soundboard::stopAllPads()
{
    player_.stopAll();
    // Silence asked for now also covers sounds that were waiting for their load.
    for (Pad& pad : pads_)
        pad.playWhenLoaded = false;
    ++previewGeneration_;
    redraw();
}

void Soundboard::startPadLoad(int index)
{
    Pad* found = runner_ ? padWithPath(index) : nullptr;
    if (!found)
        return;
    Pad& pad = *found;
    if (pad.cancelFlag)
        pad.cancelFlag->store(1);
    pad.cancelFlag = std::make_shared<std::atomic<uint8_t>>(0);
    ++pad.loadGeneration;
    pad.loading = true;
    pad.needsLoad = false;
    pad.loadError = false;
    pad.errorText.clear();
    pad.sound.reset();

    // The worker sees only these copies and the shared flag, never the pad.
    auto result = std::make_shared<PadLoadResult>();
    result->pad = index;
    result->generation = pad.loadGeneration;
    runner_(
        [result, loader = loader_, path = pad.path, from = pad.from, to = pad.to, cancel = pad.cancelFlag] {
            if (loader)
                result->sound = loader(path, from, to, cancel.get(), result->message);
        },
        [this, result] { onPadLoaded(*result); });
}

void Soundboard::onPadLoaded(const PadLoadResult& result)
{
    if (result.pad < 0 || result.pad >= kPadCount)
        return;
    Pad& pad = pads_[static_cast<size_t>(result.pad)];
    if (result.generation != pad.loadGeneration)
        return;
    pad.loading = false;
    if (holdsAFrame(result.sound)) {
        pad.sound = result.sound;
        pad.loadError = false;
        pad.errorText.clear();
        if (pad.playWhenLoaded) {
            pad.playWhenLoaded = false;
            player_.play(result.pad, pad.sound);
        }
    } else {
        pad.loadError = true;
        pad.errorText = result.message.empty() ? L"Could not load sound" : result.message;
        setStatus(pad.errorText);
    }
    redraw();
}

int Soundboard::addFiles(const std::vector<std::wstring>& paths)
{
    int added = 0;
    for (const std::wstring& path : paths) {
        if (library_.size() >= kLibraryLimit)
            break;
        // A path longer than the store keeps would vanish at the next start.
        if (path.empty() || path.size() > kLibraryPathChars)
            continue;
        if (std::find(library_.begin(), library_.end(), path) != library_.end())
            continue;
        library_.push_back(path);
        ++added;
    }
    if (added > 0) {
        save();
        setStatus(L"Added " + std::to_wstring(added) + L" sound(s)");
        redraw();
    }
    return added;
}

void Soundboard::removeLibraryItem()
{
    if (selectedRow < 0 || static_cast<size_t>(selectedRow) >= library_.size())
        return;
    library_.erase(library_.begin() + selectedRow);
    const int count = static_cast<int>(library_.size());
    selectedRow = std::min(selectedRow, count - 1);
    firstRow = std::clamp(firstRow, 0, std::max(count - static_cast<int>(kVisibleRows), 0));
    save();
    redraw();
}

void Soundboard::assignLibraryItem(int index)
{
    if (index < 0 || index >= kPadCount || selectedRow < 0 || static_cast<size_t>(selectedRow) >= library_.size())
        return;
    Pad& pad = pads_[static_cast<size_t>(index)];
    pad.path = library_[static_cast<size_t>(selectedRow)];
    pad.title = defaultTitle(pad.path);
    pad.from = 0.0;
    pad.to = 0.0;
    pad.playWhenLoaded = false;
    startPadLoad(index);
    save();
    redraw();
}

void Soundboard::clearPad(int index)
{
    Pad* found = padWithPath(index);
    if (!found)
        return;
    Pad& pad = *found;
    player_.stop(index);
    if (pad.cancelFlag)
        pad.cancelFlag->store(1);
    Pad empty;
    empty.key = pad.key;
    // The cancelled load's empty result must not mark the now empty pad as failed.
    empty.loadGeneration = pad.loadGeneration + 1;
    pad = std::move(empty);
    save();
    redraw();
}

void Soundboard::renamePad(int index, const std::wstring& title)
{
    Pad* found = padWithPath(index);
    if (!found)
        return;
    Pad& pad = *found;
    // An empty title would come back as the default one at the next start anyway.
    pad.title = title.empty() ? defaultTitle(pad.path) : title;
    save();
    redraw();
}

void Soundboard::saveTrim(int index, double from, double to)
{
    Pad* found = padWithPath(index);
    if (!found)
        return;
    Pad& pad = *found;
    pad.from = from;
    pad.to = to;
    pad.playWhenLoaded = false;
    startPadLoad(index);
    save();
    redraw();
}

void Soundboard::setPadKey(int index, uint32_t code)
{
    if (index < 0 || index >= kPadCount)
        return;
    pads_[static_cast<size_t>(index)].key = code;
    save();
    redraw();
}

void Soundboard::setStopKey(uint32_t code)
{
    stopKey_ = code;
    save();
    redraw();
}

void Soundboard::startPreview(const std::wstring& path, double from, double to)
{
    const int generation = ++previewGeneration_;
    if (!runner_)
        return;
    auto sound = std::make_shared<clip::SoundRef>();
    auto message = std::make_shared<std::wstring>();
    runner_(
        [sound, message, loader = loader_, path, from, to] {
            if (loader)
                *sound = loader(path, from, to, nullptr, *message);
        },
        [this, sound, message, generation] {
            // A preview stopped or replaced while it decoded stays silent.
            if (generation != previewGeneration_)
                return;
            if (holdsAFrame(*sound))
                player_.play(kPreviewId, *sound);
            else
                setStatus(message->empty() ? L"Could not load sound" : *message);
            redraw();
        });
}

void Soundboard::stopPreview()
{
    ++previewGeneration_;
    player_.stop(kPreviewId);
    redraw();
}

void Soundboard::setStatus(const std::wstring& text)
{
    status_ = text;
    statusTime_ = static_cast<double>(clock_.nowMicros()) / 1e6;
    ++statusSerial_;
}

Pad* Soundboard::padWithPath(int index)
{
    if (index < 0 || index >= kPadCount)
        return nullptr;
    Pad& pad = pads_[static_cast<size_t>(index)];
    return pad.path.empty() ? nullptr : &pad;
}

void Soundboard::redraw()
{
    if (redraw_)
        redraw_();
}

} // namespace soundboard
