#pragma once
// Factories for the platform services on the real Windows APIs.

#include "platform/app_audio.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/global_hotkeys.h"
#include "platform/hashes.h"
#include "platform/key_state.h"
#include "platform/media.h"
#include "platform/processes.h"
#include "platform/registry_store.h"
#include "platform/signatures.h"
#include "platform/web.h"

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
// URLDownloadToFileW through the system's download cache; DeleteUrlCacheEntryW.
std::unique_ptr<Web> makeWeb();
// CreateProcessW without a window (hidden runs inside a kill-on-close job),
// ShellExecuteExW with a verb, the shell's copy out of a zip folder, the
// token's elevation and registry key ownership.
std::unique_ptr<Processes> makeProcesses();
// CryptoAPI's AES provider in a verify-only context; SHA-256 over 64 KiB reads.
std::unique_ptr<Hashes> makeHashes();
// A file held with FILE_SHARE_READ; WinVerifyTrust's generic policy on its handle.
std::unique_ptr<Signatures> makeSignatures();
// Media Foundation, loaded from the system folder at run time: the source
// reader, the encoders' output types and the sink writer.
std::unique_ptr<Media> makeMedia();
// Toolhelp snapshots, top-level windows, the playback endpoints' audio
// sessions, per-process loopback through mmdevapi and the per-program
// default endpoints of the audio policy; every optional function is looked
// up at run time.
std::unique_ptr<AppAudio> makeAppAudio();

// Global hotkeys on one window (RegisterHotKey; WM_HOTKEY reaches that
// window) and key names (MapVirtualKeyW, GetKeyNameTextW).
class WindowHotkeys : public GlobalHotkeys {
public:
    // The window (an HWND) the hotkeys belong to, once it exists. What was
    // registered before moves onto it; none unregisters everything from the
    // old window but remembers it.
    virtual void setWindow(void* window) = 0;
};
std::unique_ptr<WindowHotkeys> makeGlobalHotkeys();

} // namespace platform::win32
