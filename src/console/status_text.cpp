#include "console/status_text.h"

namespace console {

std::wstring engineStatusText(engine::EngineStatus status)
{
    switch (status) {
    case engine::EngineStatus::MicFailed:
        return kMicFailedText;
    case engine::EngineStatus::Ok:
        break;
    }
    return {};
}

} // namespace console
