#pragma once
// Child programs and the process's own standing: starting a program directly
// or through the shell (with a verb such as "runas" for the elevation prompt),
// waiting for it, the shell's own copy out of an archive, and what the
// process token allows.

#include "platform/clock.h"

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
