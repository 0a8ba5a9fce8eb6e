#pragma once
// The texts the user reads for the engine's status codes, made where they are
// shown from the codes in the engine report.

#include "engine/engine_report.h"

#include <string>

namespace console {

inline constexpr wchar_t kMicFailedText[] = L"Can't open this microphone. Pick another one.";

// The engine status line: empty while all is well.
std::wstring engineStatusText(engine::EngineStatus status);

} // namespace console
