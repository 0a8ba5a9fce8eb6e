#pragma once
// Child programs and the process's own standing: starting a program directly
// or through the shell (with a verb such as "runas" for the elevation prompt),
// waiting for it, the shell's own copy out of an archive, and what the
// process token allows.

#include "platform/clock.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// A started program whose handle is kept.
class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    // Waits at most timeoutMicros (kWaitForever: no limit); the exit code when
    // the program has ended, nothing when it still runs or cannot be waited for.
    virtual std::optional<uint32_t> wait(int64_t timeoutMicros) = 0;
};

// Ends a hidden run and every process it started: the run's job object
// (kill on close) or, when the job could not be made, its process. Closing
// (destroying) it closes the handle, which ends what a job still holds.
class RunKiller {
public:
    virtual ~RunKiller() = default;
    virtual void terminate() = 0;
};

// A program started suspended and hidden, its standard output and error on
// one pipe, no standard input.
class HiddenRun {
public:
    virtual ~HiddenRun() = default;
    // The handle that ends the run; the first call hands it over, later ones give nullptr.
    virtual std::unique_ptr<RunKiller> takeKiller() = 0;
    virtual void resume() = 0;
    // Blocks for the next piece of output (at most max bytes); 0 when the
    // output has ended (the program and every holder of the pipe are gone).
    virtual size_t readOutput(uint8_t* buffer, size_t max) = 0;
    // As ChildProcess::wait: the exit code, nothing when it still runs.
    virtual std::optional<uint32_t> wait(int64_t timeoutMicros) = 0;
};

struct ShellStart {
    std::wstring verb;          // "open", "runas"
    std::wstring file;          // the program to start
    std::wstring parameters;    // its command line after the program
    std::wstring workingFolder; // empty: the caller's
    bool hidden = false;        // no window; else shown normally
};

class Processes {
public:
    virtual ~Processes() = default;

    // Runs a full command line without a window, in workingFolder; nullptr
    // when it cannot be started.
    virtual std::unique_ptr<ChildProcess> run(const std::wstring& commandLine, const std::wstring& workingFolder) = 0;
    // Starts commandLine suspended, without a console window and hidden, in
    // workingFolder, its output on a pipe, inside a new job that kills its
    // processes when closed (the process handle when the job fails);
    // nullptr when it cannot be started.
    virtual std::unique_ptr<HiddenRun> startHidden(const std::wstring& commandLine, const std::wstring& workingFolder)
        = 0;
    // Starts a program through the shell with a verb, keeping its handle;
    // nullptr when it cannot start or the user declined the elevation prompt.
    virtual std::unique_ptr<ChildProcess> shellStart(const ShellStart& start) = 0;
    // Opens a folder, a web address or a document in the shell; false when refused.
    virtual bool shellOpen(const std::wstring& target, const std::wstring& parameters) = 0;
    // Asks the shell to copy every item of a zip archive into folder, with no
    // progress window, confirmation or error dialog. It may go on after the
    // call returns; false when the shell refused to start the copy.
    virtual bool shellCopyFromArchive(const std::wstring& archive, const std::wstring& folder) = 0;

    // The system directory ("C:\Windows\System32"), without a trailing "\".
    virtual std::wstring systemFolder() = 0;
    // The full path of this program's own executable.
    virtual std::wstring ownExecutable() = 0;

    // Whether the process runs with an elevated token.
    virtual bool elevated() = 0;
    // Makes the local Administrators group the owner of a registry key (object
    // name "MACHINE\..."), with the take-ownership and restore privileges
    // enabled, and grants that group full access inherited by subkeys; true
    // when every step succeeded.
    virtual bool takeOwnershipOfKey(const std::wstring& objectName) = 0;
};

} // namespace platform
