#include "platform/files.h"

namespace platform {

bool replaceFile(Files& files, const std::wstring& path, std::span<const uint8_t> bytes, const std::wstring& tempSuffix)
{
    auto writer = files.beginReplace(path, tempSuffix);
    if (!writer)
        return false;
    if (!writer->write(bytes)) {
        writer->abandon();
        return false;
    }
    return writer->commit();
}

} // namespace platform
