#pragma once
// A global hotkey service that keeps a table of what is registered. Like the
// system, it refuses a combination another id already holds; a test can also
// make it refuse a combination as if another program held it, give keys their
// names, and "press" a combination to learn which id would fire. Interface
// thread only, like the real service.

#include "platform/global_hotkeys.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace platform::sim {

class SimHotkeys final : public GlobalHotkeys {
public:
    struct Registration {
        uint32_t modifiers = 0; // as registered, the no-repeat flag included
        uint32_t virtualKey = 0;
        bool operator==(const Registration&) const = default;
    };

    bool registerHotkey(int id, uint32_t modifiers, uint32_t virtualKey) override
    {
        const Combination wanted{modifiers & ~kHotkeyNoRepeat, virtualKey};
        const auto holder = find(wanted);
        if (refused_.contains(wanted) || (holder && *holder != id))
            return false;
        registered_[id] = {modifiers, virtualKey};
        return true;
    }
    void unregisterHotkey(int id) override { registered_.erase(id); }
    std::wstring keyNameText(uint16_t virtualKey) override
    {
        const auto it = names_.find(virtualKey);
        return it == names_.end() ? std::wstring() : it->second;
    }

    // Another program holds this combination (modifiers without the no-repeat flag).
    void refuse(uint32_t modifiers, uint32_t virtualKey) { refused_.insert({modifiers, virtualKey}); }
    void setKeyName(uint16_t virtualKey, std::wstring name) { names_[virtualKey] = std::move(name); }

    const std::map<int, Registration>& registered() const { return registered_; }
    std::optional<Registration> registration(int id) const
    {
        const auto it = registered_.find(id);
        return it == registered_.end() ? std::nullopt : std::optional(it->second);
    }
    // The id the system would post for this combination, if any.
    std::optional<int> press(uint32_t modifiers, uint32_t virtualKey) const
    {
        return find({modifiers & ~kHotkeyNoRepeat, virtualKey});
    }

private:
    using Combination = std::pair<uint32_t, uint32_t>; // modifiers, key

    std::optional<int> find(const Combination& combination) const
    {
        for (const auto& [id, r] : registered_) {
            if ((r.modifiers & ~kHotkeyNoRepeat) == combination.first && r.virtualKey == combination.second)
                return id;
        }
        return std::nullopt;
    }

    std::map<int, Registration> registered_;
    std::set<Combination> refused_;
    std::map<uint16_t, std::wstring> names_;
};

} // namespace platform::sim
