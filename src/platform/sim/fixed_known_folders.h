#pragma once
// Known folders that a test or the headless tool names itself.

#include "platform/known_folders.h"

#include <map>

namespace platform::sim {

class FixedKnownFolders final : public KnownFolders {
public:
    std::optional<std::wstring> path(KnownFolder folder) override
    {
        auto it = paths_.find(folder);
        if (it == paths_.end())
            return std::nullopt;
        return it->second;
    }
    void set(KnownFolder folder, std::wstring path) { paths_[folder] = std::move(path); }

private:
    std::map<KnownFolder, std::wstring> paths_;
};

} // namespace platform::sim
