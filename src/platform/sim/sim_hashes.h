#pragma once
// File checksums computed here, over files read through a Files (such as
// MemoryFiles), for tests and the headless tool.

#include "platform/files.h"
#include "platform/hashes.h"

#include <cstdint>
#include <span>
#include <string>

namespace platform::sim {

// SHA-256 of bytes as 64 lower-case hex digits.
std::string sha256Hex(std::span<const uint8_t> bytes);

class SimHashes final : public Hashes {
public:
    explicit SimHashes(Files& files) : files_(files) { }
    std::optional<std::string> sha256File(const std::wstring& path) override;

private:
    Files& files_;
};

} // namespace platform::sim
