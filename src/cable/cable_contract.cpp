#include "cable/cable_contract.h"

#include <cwctype>

namespace cable {
namespace {

bool contains(std::wstring_view text, std::wstring_view part)
{
    return text.find(part) != std::wstring_view::npos;
}

} // namespace

bool signerAccepted(std::wstring_view signerName)
{
    std::wstring lower(signerName);
    for (auto& c : lower)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    for (auto substring : kSignerSubstrings) {
        if (contains(lower, substring))
            return true;
    }
    return false;
}

std::wstring packageFileName(std::wstring_view version)
{
    std::wstring name(kPackagePrefix);
    name += version;
    name += kPackageSuffix;
    return name;
}

} // namespace cable
