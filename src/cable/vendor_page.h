#pragma once
// The vendor's cable page as the download reads it: outside input, so the
// reader accepts any bytes and only ever yields small version numbers.

#include <string_view>
#include <vector>

namespace cable {

// The package versions worth trying, highest first, without repeats: every
// number of one to four digits that directly follows
// "Download_CABLE/VBCABLE_Driver_Pack" in the page and is directly followed
// by ".zip", plus the versions known to exist (kFallbackVersions).
std::vector<int> packageVersions(std::string_view page);

// Tried when the page names nothing newer, or cannot be fetched at all.
inline constexpr int kFallbackVersions[] = {45, 43};

} // namespace cable
