#include "platform/win32/win32_platform.h"

namespace platform::win32 {

std::unique_ptr<Media> makeMedia()
{
    return nullptr; // built next
}

} // namespace platform::win32
