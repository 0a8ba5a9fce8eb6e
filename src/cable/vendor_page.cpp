#include "cable/vendor_page.h"

#include <algorithm>
#include <functional>

namespace cable {
namespace {

constexpr std::string_view kPackageLink = "Download_CABLE/VBCABLE_Driver_Pack";
constexpr std::string_view kArchive = ".zip";
constexpr size_t kMaxDigits = 4;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::vector<int> packageVersions(std::string_view page)
{
    std::vector<int> versions(std::begin(kFallbackVersions), std::end(kFallbackVersions));
    for (size_t at = page.find(kPackageLink); at != std::string_view::npos; at = page.find(kPackageLink, at)) {
        at += kPackageLink.size();
        size_t digits = 0;
        int version = 0;
        while (at + digits < page.size() && isDigit(page[at + digits]) && digits <= kMaxDigits) {
            version = version * 10 + (page[at + digits] - '0');
            ++digits;
        }
        if (digits >= 1 && digits <= kMaxDigits && page.substr(at + digits, kArchive.size()) == kArchive)
            versions.push_back(version);
    }
    std::sort(versions.begin(), versions.end(), std::greater<>());
    versions.erase(std::unique(versions.begin(), versions.end()), versions.end());
    return versions;
}

} // namespace cable
