#pragma once
// The registry store's cases run against every registry: the in-memory store
// on Linux and the real registry under wine. Each test works below a root key
// of its own, removed afterwards.

#include "platform/registry_conformance.h"
#include "settings/registry_settings.h"

#include <gtest/gtest.h>

class RegistrySettingsCases : public ::testing::TestWithParam<RegistryEnvFactory> {
protected:
    void SetUp() override
    {
        env_ = GetParam()();
        store_ = std::make_unique<settings::RegistrySettings>(
            *env_.store, env_.root + L"\\VantorOvix", env_.root + L"\\Run");
    }
    void TearDown() override
    {
        store_.reset();
        if (env_.store)
            env_.store->deleteKey(env_.root);
    }
    platform::RegistryStore& registry() { return *env_.store; }
    settings::RegistrySettings& store() { return *store_; }
    std::wstring settingsKey() const { return store_->settingsKey(); }
    void writeSetting(const std::wstring& name, int32_t value)
    {
        ASSERT_TRUE(registry().writeDword(settingsKey(), name, static_cast<uint32_t>(value)));
    }
    void plant(const std::wstring& key, const std::wstring& name, platform::ValueType type, std::vector<uint8_t> data)
    {
        env_.plant(key, name, type, data);
    }

    RegistryEnv env_;
    std::unique_ptr<settings::RegistrySettings> store_;
};
