#pragma once
// Behaviour every Files implementation shares: atomic replacement through a
// temporary name, and nothing left behind when a write does not complete.

#include "platform/files.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

struct FilesEnv {
    std::unique_ptr<platform::Files> files;
    std::function<std::wstring(const std::wstring& name)> path; // a path in the test's own folder
    std::function<void()> cleanup;
};

using FilesEnvFactory = FilesEnv (*)();

class FilesConformance : public ::testing::TestWithParam<FilesEnvFactory> {
protected:
    void SetUp() override { env_ = GetParam()(); }
    void TearDown() override
    {
        env_.files.reset();
        if (env_.cleanup)
            env_.cleanup();
    }
    platform::Files& files() { return *env_.files; }
    std::wstring path(const std::wstring& name) const { return env_.path(name); }

    FilesEnv env_;
};

inline std::vector<uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}
