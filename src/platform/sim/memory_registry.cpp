#include "platform/sim/memory_registry.h"

#include "platform/registry_values.h"
#include "platform/text.h"

#include <cwctype>

namespace platform::sim {
namespace {

// Keys compare without case and without leading, trailing or doubled separators.
std::wstring foldPath(const std::wstring& path)
{
    std::wstring out;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!out.empty() && out.back() != L'\\')
                out += c;
        } else {
            out += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
        }
    }
    if (!out.empty() && out.back() == L'\\')
        out.pop_back();
    return out;
}

// Creating a key creates its parents, as the registry does.
std::vector<std::wstring> withParents(const std::wstring& folded)
{
    std::vector<std::wstring> paths;
    for (size_t i = 0; i < folded.size(); ++i) {
        if (folded[i] == L'\\')
            paths.push_back(folded.substr(0, i));
    }
    paths.push_back(folded);
    return paths;
}

bool isBelow(const std::wstring& folded, const std::wstring& parent)
{
    return folded.size() > parent.size() && folded.compare(0, parent.size(), parent) == 0
        && folded[parent.size()] == L'\\';
}

} // namespace

const MemoryRegistry::Value* MemoryRegistry::find(const std::wstring& key, const std::wstring& name) const
{
    auto it = keys_.find(foldPath(key));
    if (it == keys_.end())
        return nullptr;
    for (const auto& value : it->second) {
        if (equalsNoCase(value.name, name))
            return &value;
    }
    return nullptr;
}

bool MemoryRegistry::keyExists(const std::wstring& key)
{
    std::lock_guard lock(mutex_);
    return keys_.count(foldPath(key)) != 0;
}

std::optional<uint32_t> MemoryRegistry::readDword(const std::wstring& key, const std::wstring& name)
{
    std::lock_guard lock(mutex_);
    const Value* value = find(key, name);
    if (!value || value->type != ValueType::Dword || value->data.size() != 4)
        return std::nullopt;
    const auto& d = value->data;
    return static_cast<uint32_t>(d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24));
}

std::optional<std::wstring> MemoryRegistry::readString(
    const std::wstring& key, const std::wstring& name, size_t maxChars)
{
    std::lock_guard lock(mutex_);
    const Value* value = find(key, name);
    if (!value || value->type != ValueType::String)
        return std::nullopt;
    return stringFromBytes(value->data, maxChars);
}

std::optional<std::vector<std::wstring>> MemoryRegistry::readMultiString(
    const std::wstring& key, const std::wstring& name, size_t maxBytes)
{
    std::lock_guard lock(mutex_);
    const Value* value = find(key, name);
    if (!value || value->type != ValueType::MultiString || value->data.size() > maxBytes)
        return std::nullopt;
    return multiStringFromBytes(value->data);
}

bool MemoryRegistry::writeRaw(
    const std::wstring& key, const std::wstring& name, ValueType type, std::span<const uint8_t> data)
{
    std::lock_guard lock(mutex_);
    if (writesFail_)
        return false;
    const auto folded = foldPath(key);
    for (const auto& path : withParents(folded))
        keys_[path];
    auto& values = keys_[folded];
    for (auto& value : values) {
        if (equalsNoCase(value.name, name)) {
            value.type = type;
            value.data.assign(data.begin(), data.end());
            return true;
        }
    }
    values.push_back(Value{name, type, {data.begin(), data.end()}});
    return true;
}

bool MemoryRegistry::writeDword(const std::wstring& key, const std::wstring& name, uint32_t value)
{
    return writeRaw(key, name, ValueType::Dword, dwordBytes(value));
}

bool MemoryRegistry::writeString(const std::wstring& key, const std::wstring& name, const std::wstring& value)
{
    return writeRaw(key, name, ValueType::String, stringBytes(value));
}

bool MemoryRegistry::writeMultiString(
    const std::wstring& key, const std::wstring& name, const std::vector<std::wstring>& values)
{
    return writeRaw(key, name, ValueType::MultiString, multiStringBytes(values));
}

std::vector<ValueInfo> MemoryRegistry::listValues(const std::wstring& key)
{
    std::lock_guard lock(mutex_);
    std::vector<ValueInfo> out;
    auto it = keys_.find(foldPath(key));
    if (it == keys_.end())
        return out;
    for (const auto& value : it->second)
        out.push_back(ValueInfo{value.name, value.type, static_cast<uint32_t>(value.data.size())});
    return out;
}

DeleteResult MemoryRegistry::deleteValue(const std::wstring& key, const std::wstring& name)
{
    std::lock_guard lock(mutex_);
    if (writesFail_)
        return DeleteResult::Failed;
    auto it = keys_.find(foldPath(key));
    if (it == keys_.end())
        return DeleteResult::Missing;
    auto& values = it->second;
    for (auto v = values.begin(); v != values.end(); ++v) {
        if (equalsNoCase(v->name, name)) {
            values.erase(v);
            return DeleteResult::Deleted;
        }
    }
    return DeleteResult::Missing;
}

DeleteResult MemoryRegistry::deleteKey(const std::wstring& key)
{
    std::lock_guard lock(mutex_);
    if (writesFail_)
        return DeleteResult::Failed;
    const auto folded = foldPath(key);
    bool any = false;
    for (auto it = keys_.begin(); it != keys_.end();) {
        if (it->first == folded || isBelow(it->first, folded)) {
            it = keys_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any ? DeleteResult::Deleted : DeleteResult::Missing;
}

void MemoryRegistry::createKey(const std::wstring& key)
{
    std::lock_guard lock(mutex_);
    for (const auto& path : withParents(foldPath(key)))
        keys_[path];
}

void MemoryRegistry::setWritesFail(bool fail)
{
    std::lock_guard lock(mutex_);
    writesFail_ = fail;
}

size_t MemoryRegistry::valueCount() const
{
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const auto& [path, values] : keys_)
        count += values.size();
    return count;
}

} // namespace platform::sim
