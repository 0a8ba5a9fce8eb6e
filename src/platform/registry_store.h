#pragma once
// A registry-style key/value store: keys are backslash-separated paths under
// one hive; values are typed. Values are read only when type and size match
// what the caller asks for; anything else reads as missing.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class Hive { CurrentUser, LocalMachine };

// The registry's own type codes, so raw values mean the same everywhere.
enum class ValueType : uint32_t {
    None = 0,
    String = 1,       // REG_SZ
    ExpandString = 2, // REG_EXPAND_SZ
    Binary = 3,       // REG_BINARY
    Dword = 4,        // REG_DWORD
    MultiString = 7,  // REG_MULTI_SZ
    Qword = 11,       // REG_QWORD
};

struct ValueInfo {
    std::wstring name;
    ValueType type = ValueType::None;
    uint32_t sizeBytes = 0;
};

enum class DeleteResult { Deleted, Missing, Failed };

class RegistryStore {
public:
    virtual ~RegistryStore() = default;

    virtual bool keyExists(const std::wstring& key) = 0;
    // A REG_DWORD of exactly 4 bytes.
    virtual std::optional<uint32_t> readDword(const std::wstring& key, const std::wstring& name) = 0;
    // A REG_SZ of at most maxChars characters plus the terminator; a longer
    // value reads as missing. A value stored without its terminator is accepted.
    virtual std::optional<std::wstring> readString(const std::wstring& key, const std::wstring& name, size_t maxChars)
        = 0;
    // A REG_MULTI_SZ of at most maxBytes bytes, split at its terminators; the
    // empty string that ends the list is not an entry.
    virtual std::optional<std::vector<std::wstring>> readMultiString(
        const std::wstring& key, const std::wstring& name, size_t maxBytes)
        = 0;
    // Writers create the key (and its parents) when it does not exist.
    virtual bool writeDword(const std::wstring& key, const std::wstring& name, uint32_t value) = 0;
    virtual bool writeString(const std::wstring& key, const std::wstring& name, const std::wstring& value) = 0;
    virtual bool writeMultiString(
        const std::wstring& key, const std::wstring& name, const std::vector<std::wstring>& values)
        = 0;
    // The key's values in the store's enumeration order; empty when the key is missing.
    virtual std::vector<ValueInfo> listValues(const std::wstring& key) = 0;
    virtual DeleteResult deleteValue(const std::wstring& key, const std::wstring& name) = 0;
    // Deletes the key with everything below it.
    virtual DeleteResult deleteKey(const std::wstring& key) = 0;
};

} // namespace platform
