#pragma once
// Behaviour every registry store shares, run against the in-memory store on
// Linux and against the real registry under wine.

#include "platform/registry_store.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <span>

struct RegistryEnv {
    std::unique_ptr<platform::RegistryStore> store;
    // Writes a value with any type and bytes, as another program might.
    std::function<void(
        const std::wstring& key, const std::wstring& name, platform::ValueType type, std::span<const uint8_t> data)>
        plant;
    std::wstring root; // a key of the test's own, removed afterwards
};

using RegistryEnvFactory = RegistryEnv (*)();

// A fresh in-memory store (memory_registry_env.cpp).
RegistryEnv memoryRegistryEnv();
// The current user's hive under a key of this process's own; Windows test
// executables only (win32/win32_registry_env.cpp).
RegistryEnv win32RegistryEnv();

class RegistryConformance : public ::testing::TestWithParam<RegistryEnvFactory> {
protected:
    void SetUp() override { env_ = GetParam()(); }
    void TearDown() override
    {
        if (env_.store)
            env_.store->deleteKey(env_.root);
    }
    platform::RegistryStore& store() { return *env_.store; }
    std::wstring key(const std::wstring& sub = L"") const { return sub.empty() ? env_.root : env_.root + L"\\" + sub; }
    void plant(const std::wstring& name, platform::ValueType type, std::vector<uint8_t> data)
    {
        env_.plant(key(), name, type, data);
    }

    RegistryEnv env_;
};
