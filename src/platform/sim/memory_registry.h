#pragma once
// An in-memory registry with the real one's rules: case-insensitive key and
// value names, values kept in creation order, typed raw data, and the same
// type-and-size checks on read. Tests plant raw values and make writes fail.

#include "platform/registry_store.h"

#include <map>
#include <mutex>
#include <span>

namespace platform::sim {

class MemoryRegistry final : public RegistryStore {
public:
    bool keyExists(const std::wstring& key) override;
    std::optional<uint32_t> readDword(const std::wstring& key, const std::wstring& name) override;
    std::optional<std::wstring> readString(const std::wstring& key, const std::wstring& name, size_t maxChars) override;
    std::optional<std::vector<std::wstring>> readMultiString(
        const std::wstring& key, const std::wstring& name, size_t maxBytes) override;
    bool writeDword(const std::wstring& key, const std::wstring& name, uint32_t value) override;
    bool writeString(const std::wstring& key, const std::wstring& name, const std::wstring& value) override;
    bool writeMultiString(
        const std::wstring& key, const std::wstring& name, const std::vector<std::wstring>& values) override;
    std::vector<ValueInfo> listValues(const std::wstring& key) override;
    DeleteResult deleteValue(const std::wstring& key, const std::wstring& name) override;
    DeleteResult deleteKey(const std::wstring& key) override;

    // Test controls.
    bool writeRaw(const std::wstring& key, const std::wstring& name, ValueType type, std::span<const uint8_t> data);
    void createKey(const std::wstring& key);
    void setWritesFail(bool fail);
    size_t valueCount() const;

private:
    struct Value {
        std::wstring name;
        ValueType type = ValueType::None;
        std::vector<uint8_t> data;
    };
    using Key = std::vector<Value>;

    const Value* find(const std::wstring& key, const std::wstring& name) const;

    mutable std::mutex mutex_;
    std::map<std::wstring, Key> keys_; // by folded path; guarded by mutex_
    bool writesFail_ = false;          // guarded by mutex_
};

} // namespace platform::sim
