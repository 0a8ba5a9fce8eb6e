#pragma once
// The user's known folders, as the platform names them.

#include <optional>
#include <string>

namespace platform {

enum class KnownFolder { Desktop, Downloads, Documents, Music, ApplicationData };

class KnownFolders {
public:
    virtual ~KnownFolders() = default;
    // The folder's path, or nullopt when the platform has none for this user.
    virtual std::optional<std::wstring> path(KnownFolder folder) = 0;
};

} // namespace platform
