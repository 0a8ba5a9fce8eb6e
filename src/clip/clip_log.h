#pragma once
// The media log, "clip.log" in the tools folder: one UTF-8 line per event,
// "hh:mm:ss  text", emptied once it has grown beyond 200000 bytes. Any thread
// may write; a log that cannot be written is skipped silently.

#include "platform/files.h"

#include <string>
#include <string_view>

namespace clip {

inline constexpr uint64_t kClipLogLimit = 200000;

// "<ProgramData>\VantorOvix\tools": the variable's value when it is set and
// shorter than 260 characters, else "C:\ProgramData".
std::wstring toolsFolderFor(const std::wstring* programData);

class ClipLog {
public:
    // No files: nothing is logged.
    ClipLog(platform::Files* files, std::wstring toolsFolder);
    void line(std::string_view text);
    void line(const std::wstring& text);
    const std::wstring& path() const { return path_; }

private:
    platform::Files* files_;
    std::wstring folder_, path_;
};

} // namespace clip
