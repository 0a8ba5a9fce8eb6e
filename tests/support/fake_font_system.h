#pragma once
#include "platform/text.h"
#include "ui/interface_fonts.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace test_support {

// The system's side: a set of installed faces, and files that add families
// while registered. Each file's families are what the system enumerates for
// it, whatever its name table says.
class FakeFontSystem final : public ui::FontSystem {
public:
    std::set<std::wstring> installed;
    std::map<std::wstring, std::vector<std::wstring>> fileFamilies;
    std::map<std::wstring, int> registrations;
    std::set<std::wstring> refuse;
    std::optional<std::wstring> chosen;

    bool faceExists(const std::wstring& face) override
    {
        for (const auto& family : installedFamilies())
            if (platform::equalsNoCase(family, face))
                return true;
        return false;
    }
    bool registerFile(const std::wstring& path) override
    {
        if (refuse.count(path))
            return false;
        ++registrations[path];
        return true;
    }
    void unregisterFile(const std::wstring& path) override
    {
        if (registrations[path] > 0)
            --registrations[path];
    }
    std::vector<std::wstring> installedFamilies() override
    {
        std::vector<std::wstring> families(installed.begin(), installed.end());
        for (const auto& [path, count] : registrations)
            if (count > 0)
                for (const auto& family : fileFamilies[path]) {
                    families.push_back(family);
                    families.push_back(L"@" + family);
                }
        return families;
    }
    std::optional<std::wstring> chooseFontFile() override { return chosen; }
};

} // namespace test_support
