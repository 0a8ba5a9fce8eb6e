#include "platform/registry_conformance.h"
#include "platform/sim/memory_registry.h"

RegistryEnv memoryRegistryEnv()
{
    auto store = std::make_unique<platform::sim::MemoryRegistry>();
    auto* raw = store.get();
    RegistryEnv env;
    env.store = std::move(store);
    env.plant = [raw](const std::wstring& key, const std::wstring& name, platform::ValueType type,
                    std::span<const uint8_t> data) { raw->writeRaw(key, name, type, data); };
    env.root = L"Software\\VantorOvixTest";
    return env;
}
