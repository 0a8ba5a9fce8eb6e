#pragma once
// Factories for the platform services on the real Windows APIs.

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/key_state.h"
#include "platform/registry_store.h"

#include <memory>

namespace platform::win32 {

// QueryPerformanceCounter time; events are kernel events, waits WaitForMultipleObjects.
std::unique_ptr<Clock> makeClock();
// The registry under one hive (the 64-bit view).
std::unique_ptr<RegistryStore> makeRegistry(Hive hive);
// CreateFileW, then MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
std::unique_ptr<Files> makeFiles();
// GetAsyncKeyState: the keys as they are now, whichever window has the focus.
std::unique_ptr<KeyState> makeKeyState();

} // namespace platform::win32
