// Registry data comes from outside the program: any bytes under any type. The
// decoders must accept anything, never read out of bounds, and give back text
// that survives the round trip to UTF-8 and to registry bytes.

#include "platform/registry_values.h"
#include "platform/text.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    const size_t limit = size ? data[0] : 0;

    if (auto text = platform::stringFromBytes(bytes, limit)) {
        if (text->size() > limit)
            std::abort();
        const auto again = platform::stringFromBytes(platform::stringBytes(*text), limit);
        if (!again || *again != *text)
            std::abort();
        // Text from the registry also goes into UTF-8 setup files and back.
        const std::wstring decoded = platform::wideFromUtf8(platform::utf8FromWide(*text));
        if (decoded.size() > text->size() * 2)
            std::abort();
    }

    const auto list = platform::multiStringFromBytes(bytes);
    for (const auto& entry : list) {
        if (entry.empty())
            std::abort(); // an empty entry ends the list
    }
    if (platform::multiStringFromBytes(platform::multiStringBytes(list)) != list)
        std::abort();

    const std::string utf8(reinterpret_cast<const char*>(data), size);
    (void)platform::utf8FromWide(platform::wideFromUtf8(utf8));
    return 0;
}
