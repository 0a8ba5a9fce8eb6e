// The vendor's cable page comes from the web: any bytes. The reader must
// accept anything and give back only versions the download can name: one to
// four digits, highest first, no repeats, the known versions always among
// them, and every other one linked in the page exactly as it will be asked for.

#include "cable/vendor_page.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    const auto versions = cable::packageVersions(page);
    for (size_t i = 0; i < versions.size(); ++i) {
        if (versions[i] < 0 || versions[i] > 9999)
            std::abort();
        if (i > 0 && versions[i] >= versions[i - 1])
            std::abort();
    }
    for (const int known : cable::kFallbackVersions) {
        if (std::find(versions.begin(), versions.end(), known) == versions.end())
            std::abort();
    }
    for (const int version : versions) {
        if (std::find(std::begin(cable::kFallbackVersions), std::end(cable::kFallbackVersions), version)
            != std::end(cable::kFallbackVersions))
            continue;
        // Leading zeros may be linked ("Pack046.zip"); some spelling of it must be there.
        bool linked = false;
        std::string digits = std::to_string(version);
        for (; digits.size() <= 4 && !linked; digits.insert(0, 1, '0'))
            linked = page.find("Download_CABLE/VBCABLE_Driver_Pack" + digits + ".zip") != std::string_view::npos;
        if (!linked)
            std::abort();
    }
    return 0;
}
