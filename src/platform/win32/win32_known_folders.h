#pragma once
// The user's known folders through SHGetKnownFolderPath.

#include "platform/known_folders.h"

#include <memory>

namespace platform::win32 {

std::unique_ptr<KnownFolders> makeKnownFolders();

} // namespace platform::win32
