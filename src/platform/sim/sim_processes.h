#pragma once
// Child programs as a test scripts them. Every start is recorded (direct
// runs, shell starts, shell opens, archive copies and ownership changes); a
// program, named by its path, may refuse to start (a declined elevation
// prompt), end at once with an exit code, or keep running until the test
// ends it, and may act when started (a fake tar extracting into MemoryFiles).
// A hidden run writes its scripted output to its pipe once resumed and ends
// with its exit code, or hangs until finish() or its killer ends it.
// Waits for a child run on the given clock. Any thread may start programs
// while a test scripts them or reads the record.

#include "platform/clock.h"
#include "platform/processes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::sim {

class SimProcesses final : public Processes {
public:
    explicit SimProcesses(Clock& clock) : clock_(clock) { }

    std::unique_ptr<ChildProcess> run(const std::wstring& commandLine, const std::wstring& workingFolder) override;
    std::unique_ptr<ChildProcess> shellStart(const ShellStart& start) override;
    std::unique_ptr<HiddenRun> startHidden(const std::wstring& commandLine, const std::wstring& workingFolder) override;
    bool shellOpen(const std::wstring& target, const std::wstring& parameters) override;
    bool shellCopyFromArchive(const std::wstring& archive, const std::wstring& folder) override;
    std::wstring systemFolder() override;
    std::wstring ownExecutable() override;
    bool elevated() override;
    bool takeOwnershipOfKey(const std::wstring& objectName) override;

    // What a program does when started. Unscripted programs start and end with 0.
    struct Script {
        bool refuses = false;            // cannot start, or the user declined elevation
        uint32_t exitCode = 0;           // when it ends
        bool keepsRunning = false;       // runs until finish()
        std::function<void()> onStart{}; // runs on the starting thread (a hidden run: on resume)
        std::string output{};            // what a hidden run writes to its pipe
    };
    // program is a path, compared without case (for run, the command line's first item).
    void script(const std::wstring& program, Script script);
    // Ends every running start of program with exitCode.
    void finish(const std::wstring& program, uint32_t exitCode);
    // The starts of program that keep running and have not ended.
    int runningCount(const std::wstring& program) const;
    // What the shell's archive copy does; none (the default): it refuses.
    void scriptArchiveCopy(std::function<bool(const std::wstring& archive, const std::wstring& folder)> copy);
    void setElevated(bool elevated);
    void setSystemFolder(std::wstring folder);
    void setOwnExecutable(std::wstring path);
    void setShellOpens(bool opens);
    void setTakesOwnership(bool takes);

    struct Start {
        enum class Kind { Run, Shell, Open, ArchiveCopy, TakeOwnership, Hidden };
        Kind kind = Kind::Run;
        std::wstring program{};     // run: first item; shell: the file; open: the target; copy: the archive; key name
        std::wstring verb{};        // shell starts
        std::wstring commandLine{}; // run and hidden: the whole line; shell starts and opens: the parameters
        std::wstring folder{};      // working folder; copy: the destination
        bool hidden = false;        // shell starts (runs never show a window)
    };
    std::vector<Start> starts() const;

private:
    struct Child;
    class Handle;
    class Hidden;
    class Killer;
    std::shared_ptr<Child> launch(const Start& record, Script& script);
    std::unique_ptr<ChildProcess> start(Start record);

    Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<std::pair<std::wstring, Script>> scripts_;                          // guarded by mutex_
    std::vector<std::shared_ptr<Child>> running_;                                   // guarded by mutex_
    std::vector<Start> starts_;                                                     // guarded by mutex_
    std::function<bool(const std::wstring&, const std::wstring&)> archiveCopy_;     // guarded by mutex_
    bool elevated_ = false;                                                         // guarded by mutex_
    bool shellOpens_ = true;                                                        // guarded by mutex_
    bool takesOwnership_ = true;                                                    // guarded by mutex_
    std::wstring systemFolder_ = L"C:\\Windows\\System32";                          // guarded by mutex_
    std::wstring ownExecutable_ = L"C:\\Program Files\\VantorOvix\\VantorOvix.exe"; // guarded by mutex_
};

} // namespace platform::sim
