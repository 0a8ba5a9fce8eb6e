// Font files come from the user's own choice of file. The reader must take any
// bytes without reading past them, and give at most one name per font of at
// most 64, none empty, none with a zero code unit, none longer than 256 code
// units, each once.

#include "platform/text.h"
#include "ui/font_names.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto names = ui::readFamilyNames(std::span<const uint8_t>(data, size));
    if (names.size() > ui::kMaxCollectionFonts)
        std::abort();
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty() || names[i].size() > 256 || names[i].find(L'\0') != std::wstring::npos)
            std::abort();
        for (size_t j = 0; j < i; ++j)
            if (platform::equalsNoCase(names[i], names[j]))
                std::abort();
    }
    return 0;
}
