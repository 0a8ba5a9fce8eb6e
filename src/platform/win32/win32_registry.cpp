#include "platform/registry_values.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace platform::win32 {
namespace {

// An open registry key, closed on destruction.
class KeyHandle {
public:
    KeyHandle() = default;
    ~KeyHandle()
    {
        if (key_)
            RegCloseKey(key_);
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;

    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

class Registry final : public RegistryStore {
public:
    explicit Registry(Hive hive) : root_(hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER) { }

    bool keyExists(const std::wstring& key) override
    {
        KeyHandle handle;
        return open(key, KEY_READ, handle);
    }

    std::optional<uint32_t> readDword(const std::wstring& key, const std::wstring& name) override
    {
        auto raw = readRaw(key, name, 4);
        if (!raw || raw->type != REG_DWORD || raw->data.size() != 4)
            return std::nullopt;
        const auto& d = raw->data;
        return static_cast<uint32_t>(d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24));
    }

    std::optional<std::wstring> readString(const std::wstring& key, const std::wstring& name, size_t maxChars) override
    {
        auto raw = readRaw(key, name, (maxChars + 1) * sizeof(wchar_t));
        if (!raw || raw->type != REG_SZ)
            return std::nullopt;
        return stringFromBytes(raw->data, maxChars);
    }

    std::optional<std::vector<std::wstring>> readMultiString(
        const std::wstring& key, const std::wstring& name, size_t maxBytes) override
    {
        auto raw = readRaw(key, name, maxBytes);
        if (!raw || raw->type != REG_MULTI_SZ)
            return std::nullopt;
        return multiStringFromBytes(raw->data);
    }

    bool writeDword(const std::wstring& key, const std::wstring& name, uint32_t value) override
    {
        return writeRaw(key, name, REG_DWORD, dwordBytes(value));
    }

    bool writeString(const std::wstring& key, const std::wstring& name, const std::wstring& value) override
    {
        return writeRaw(key, name, REG_SZ, stringBytes(value));
    }

    bool writeMultiString(
        const std::wstring& key, const std::wstring& name, const std::vector<std::wstring>& values) override
    {
        return writeRaw(key, name, REG_MULTI_SZ, multiStringBytes(values));
    }

    std::vector<ValueInfo> listValues(const std::wstring& key) override
    {
        std::vector<ValueInfo> out;
        KeyHandle handle;
        if (!open(key, KEY_READ, handle))
            return out;
        // Value names are at most 16383 characters.
        std::wstring name(16384, L'\0');
        for (DWORD index = 0;; ++index) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD type = 0;
            DWORD size = 0;
            const LONG status
                = RegEnumValueW(handle.get(), index, name.data(), &nameLength, nullptr, &type, nullptr, &size);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            if (status != ERROR_SUCCESS)
                continue;
            out.push_back(ValueInfo{name.substr(0, nameLength), static_cast<ValueType>(type), size});
        }
        return out;
    }

    DeleteResult deleteValue(const std::wstring& key, const std::wstring& name) override
    {
        KeyHandle handle;
        const LONG opened = RegOpenKeyExW(root_, key.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, handle.out());
        if (opened == ERROR_FILE_NOT_FOUND)
            return DeleteResult::Missing;
        if (opened != ERROR_SUCCESS)
            return DeleteResult::Failed;
        const LONG status = RegDeleteValueW(handle.get(), name.c_str());
        if (status == ERROR_SUCCESS)
            return DeleteResult::Deleted;
        return status == ERROR_FILE_NOT_FOUND ? DeleteResult::Missing : DeleteResult::Failed;
    }

    DeleteResult deleteKey(const std::wstring& key) override
    {
        const LONG status = RegDeleteTreeW(root_, key.c_str());
        if (status == ERROR_FILE_NOT_FOUND)
            return DeleteResult::Missing;
        if (status != ERROR_SUCCESS)
            return DeleteResult::Failed;
        // RegDeleteTree empties the key; the key itself goes with RegDeleteKeyEx.
        const LONG removed = RegDeleteKeyExW(root_, key.c_str(), KEY_WOW64_64KEY, 0);
        return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? DeleteResult::Deleted
                                                                           : DeleteResult::Failed;
    }

private:
    struct Raw {
        DWORD type = REG_NONE;
        std::vector<uint8_t> data;
    };

    bool open(const std::wstring& key, REGSAM access, KeyHandle& handle) const
    {
        return RegOpenKeyExW(root_, key.c_str(), 0, access | KEY_WOW64_64KEY, handle.out()) == ERROR_SUCCESS;
    }

    // The value's type and data when the data fits maxBytes; a larger value is missing.
    std::optional<Raw> readRaw(const std::wstring& key, const std::wstring& name, size_t maxBytes) const
    {
        KeyHandle handle;
        if (!open(key, KEY_QUERY_VALUE, handle))
            return std::nullopt;
        Raw raw;
        DWORD size = 0;
        if (RegQueryValueExW(handle.get(), name.c_str(), nullptr, &raw.type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        if (size > maxBytes)
            return std::nullopt;
        raw.data.resize(size);
        if (RegQueryValueExW(handle.get(), name.c_str(), nullptr, &raw.type, size ? raw.data.data() : nullptr, &size)
            != ERROR_SUCCESS)
            return std::nullopt;
        raw.data.resize(size);
        return raw;
    }

    bool writeRaw(const std::wstring& key, const std::wstring& name, DWORD type, const std::vector<uint8_t>& data)
    {
        KeyHandle handle;
        if (RegCreateKeyExW(root_, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY,
                nullptr, handle.out(), nullptr)
            != ERROR_SUCCESS)
            return false;
        return RegSetValueExW(handle.get(), name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()))
            == ERROR_SUCCESS;
    }

    HKEY root_;
};

} // namespace

std::unique_ptr<RegistryStore> makeRegistry(Hive hive)
{
    return std::make_unique<Registry>(hive);
}

} // namespace platform::win32
