#include "platform/sim/sim_processes.h"

#include "platform/text.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>

namespace platform::sim {

// A started program: an event that is set when it ends, and for a hidden
// run the pipe's readers, woken when it ends.
struct SimProcesses::Child {
    std::wstring program;
    std::unique_ptr<Event> ended;
    std::atomic<uint32_t> exitCode{0};
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false; // guarded by mutex

    void end(uint32_t code)
    {
        {
            std::lock_guard lock(mutex);
            if (done)
                return;
            done = true;
            exitCode = code;
        }
        ended->set();
        changed.notify_all();
    }
    // The exit code once ended within the timeout, as both kinds of handle give it.
    std::optional<uint32_t> wait(Clock& clock, int64_t timeoutMicros)
    {
        if (!clock.wait(*ended, timeoutMicros))
            return std::nullopt;
        return exitCode.load();
    }
};

class SimProcesses::Handle final : public ChildProcess {
public:
    Handle(Clock& clock, std::shared_ptr<Child> child) : clock_(clock), child_(std::move(child)) { }
    std::optional<uint32_t> wait(int64_t timeoutMicros) override { return child_->wait(clock_, timeoutMicros); }

private:
    Clock& clock_;
    std::shared_ptr<Child> child_;
};

// Ends the run as a job's kill-on-close would: when told, or when closed.
class SimProcesses::Killer final : public RunKiller {
public:
    explicit Killer(std::shared_ptr<Child> child) : child_(std::move(child)) { }
    ~Killer() override { child_->end(kTerminatedCode); }
    void terminate() override { child_->end(kTerminatedCode); }

private:
    static constexpr uint32_t kTerminatedCode = 1;
    std::shared_ptr<Child> child_;
};

class SimProcesses::Hidden final : public HiddenRun {
public:
    Hidden(Clock& clock, std::shared_ptr<Child> child, Script script)
        : clock_(clock), child_(std::move(child)), script_(std::move(script))
    { }
    std::unique_ptr<RunKiller> takeKiller() override
    {
        if (killerTaken_)
            return nullptr;
        killerTaken_ = true;
        return std::make_unique<Killer>(child_);
    }
    void resume() override
    {
        if (resumed_.exchange(true))
            return;
        if (script_.onStart)
            script_.onStart();
        // What it wrote stays in the pipe after it ends.
        if (!script_.keepsRunning)
            child_->end(script_.exitCode);
    }
    size_t readOutput(uint8_t* buffer, size_t max) override
    {
        if (resumed_ && sent_ < script_.output.size()) {
            const size_t n = std::min(max, script_.output.size() - sent_);
            std::copy_n(script_.output.data() + sent_, n, buffer);
            sent_ += n;
            return n;
        }
        std::unique_lock lock(child_->mutex);
        child_->changed.wait(lock, [&] { return child_->done; });
        return 0;
    }
    std::optional<uint32_t> wait(int64_t timeoutMicros) override { return child_->wait(clock_, timeoutMicros); }

private:
    Clock& clock_;
    std::shared_ptr<Child> child_;
    Script script_;
    bool killerTaken_ = false;
    std::atomic<bool> resumed_{false};
    size_t sent_ = 0;
};

namespace {

// The program of a command line: its first item, quoted or up to a blank.
std::wstring firstItem(const std::wstring& commandLine)
{
    if (!commandLine.empty() && commandLine.front() == L'"') {
        const size_t close = commandLine.find(L'"', 1);
        return commandLine.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    return commandLine.substr(0, commandLine.find(L' '));
}

} // namespace

// Records the start and makes its child (none when it refuses); a child that
// keeps running is listed until finish().
std::shared_ptr<SimProcesses::Child> SimProcesses::launch(const Start& record, Script& script)
{
    {
        std::lock_guard lock(mutex_);
        starts_.push_back(record);
        auto it = std::find_if(scripts_.begin(), scripts_.end(),
            [&](const auto& entry) { return equalsNoCase(entry.first, record.program); });
        if (it != scripts_.end())
            script = it->second;
    }
    if (script.refuses)
        return nullptr;
    auto child = std::make_shared<Child>();
    child->program = record.program;
    child->ended = clock_.createEvent(true);
    child->exitCode = script.exitCode;
    if (script.keepsRunning) {
        std::lock_guard lock(mutex_);
        running_.push_back(child);
    }
    return child;
}

std::unique_ptr<ChildProcess> SimProcesses::start(Start record)
{
    Script script;
    auto child = launch(record, script);
    if (!child)
        return nullptr;
    if (!script.keepsRunning)
        child->end(script.exitCode);
    if (script.onStart)
        script.onStart();
    return std::make_unique<Handle>(clock_, std::move(child));
}

std::unique_ptr<ChildProcess> SimProcesses::run(const std::wstring& commandLine, const std::wstring& workingFolder)
{
    return start({.kind = Start::Kind::Run,
        .program = firstItem(commandLine),
        .commandLine = commandLine,
        .folder = workingFolder,
        .hidden = true});
}

std::unique_ptr<HiddenRun> SimProcesses::startHidden(const std::wstring& commandLine, const std::wstring& workingFolder)
{
    Script script;
    auto child = launch({.kind = Start::Kind::Hidden,
                            .program = firstItem(commandLine),
                            .commandLine = commandLine,
                            .folder = workingFolder,
                            .hidden = true},
        script);
    if (!child)
        return nullptr;
    return std::make_unique<Hidden>(clock_, std::move(child), std::move(script));
}

std::unique_ptr<ChildProcess> SimProcesses::shellStart(const ShellStart& s)
{
    return start({.kind = Start::Kind::Shell,
        .program = s.file,
        .verb = s.verb,
        .commandLine = s.parameters,
        .folder = s.workingFolder,
        .hidden = s.hidden});
}

bool SimProcesses::shellOpen(const std::wstring& target, const std::wstring& parameters)
{
    std::lock_guard lock(mutex_);
    starts_.push_back({.kind = Start::Kind::Open, .program = target, .verb = L"open", .commandLine = parameters});
    return shellOpens_;
}

bool SimProcesses::shellCopyFromArchive(const std::wstring& archive, const std::wstring& folder)
{
    std::function<bool(const std::wstring&, const std::wstring&)> copy;
    {
        std::lock_guard lock(mutex_);
        starts_.push_back({.kind = Start::Kind::ArchiveCopy, .program = archive, .folder = folder, .hidden = true});
        copy = archiveCopy_;
    }
    return copy && copy(archive, folder);
}

std::wstring SimProcesses::systemFolder()
{
    std::lock_guard lock(mutex_);
    return systemFolder_;
}

std::wstring SimProcesses::ownExecutable()
{
    std::lock_guard lock(mutex_);
    return ownExecutable_;
}

bool SimProcesses::elevated()
{
    std::lock_guard lock(mutex_);
    return elevated_;
}

bool SimProcesses::takeOwnershipOfKey(const std::wstring& objectName)
{
    std::lock_guard lock(mutex_);
    starts_.push_back({.kind = Start::Kind::TakeOwnership, .program = objectName});
    return takesOwnership_;
}

void SimProcesses::script(const std::wstring& program, Script script)
{
    std::lock_guard lock(mutex_);
    auto it = std::find_if(
        scripts_.begin(), scripts_.end(), [&](const auto& entry) { return equalsNoCase(entry.first, program); });
    if (it != scripts_.end())
        it->second = std::move(script);
    else
        scripts_.emplace_back(program, std::move(script));
}

void SimProcesses::finish(const std::wstring& program, uint32_t exitCode)
{
    std::vector<std::shared_ptr<Child>> ending;
    {
        std::lock_guard lock(mutex_);
        auto split = std::stable_partition(running_.begin(), running_.end(),
            [&](const auto& child) { return !equalsNoCase(child->program, program); });
        ending.assign(split, running_.end());
        running_.erase(split, running_.end());
    }
    for (auto& child : ending)
        child->end(exitCode);
}

int SimProcesses::runningCount(const std::wstring& program) const
{
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& child : running_) {
        std::lock_guard childLock(child->mutex);
        count += equalsNoCase(child->program, program) && !child->done;
    }
    return count;
}

void SimProcesses::scriptArchiveCopy(std::function<bool(const std::wstring&, const std::wstring&)> copy)
{
    std::lock_guard lock(mutex_);
    archiveCopy_ = std::move(copy);
}

void SimProcesses::setElevated(bool elevated)
{
    std::lock_guard lock(mutex_);
    elevated_ = elevated;
}

void SimProcesses::setSystemFolder(std::wstring folder)
{
    std::lock_guard lock(mutex_);
    systemFolder_ = std::move(folder);
}

void SimProcesses::setOwnExecutable(std::wstring path)
{
    std::lock_guard lock(mutex_);
    ownExecutable_ = std::move(path);
}

void SimProcesses::setShellOpens(bool opens)
{
    std::lock_guard lock(mutex_);
    shellOpens_ = opens;
}

void SimProcesses::setTakesOwnership(bool takes)
{
    std::lock_guard lock(mutex_);
    takesOwnership_ = takes;
}

std::vector<SimProcesses::Start> SimProcesses::starts() const
{
    std::lock_guard lock(mutex_);
    return starts_;
}

} // namespace platform::sim
