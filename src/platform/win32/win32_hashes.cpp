#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <wincrypt.h>

#include <vector>

namespace platform::win32 {
namespace {

// The provider, hash and file of one checksum, released in reverse order.
struct HashScope {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    HashScope() = default;
    HashScope(const HashScope&) = delete;
    HashScope& operator=(const HashScope&) = delete;
    ~HashScope()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (hash)
            CryptDestroyHash(hash);
        if (provider)
            CryptReleaseContext(provider, 0);
    }
};

class WinHashes final : public Hashes {
public:
    std::optional<std::string> sha256File(const std::wstring& path) override
    {
        HashScope scope;
        if (!CryptAcquireContextW(&scope.provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)
            || !CryptCreateHash(scope.provider, CALG_SHA_256, 0, 0, &scope.hash))
            return std::nullopt;
        scope.file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (scope.file == INVALID_HANDLE_VALUE)
            return std::nullopt;
        std::vector<BYTE> piece(65536);
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(scope.file, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr))
                return std::nullopt;
            if (got == 0)
                break;
            if (!CryptHashData(scope.hash, piece.data(), got, 0))
                return std::nullopt;
        }
        BYTE digest[32];
        DWORD size = sizeof(digest);
        if (!CryptGetHashParam(scope.hash, HP_HASHVAL, digest, &size, 0) || size != sizeof(digest))
            return std::nullopt;
        static constexpr char kHex[] = "0123456789abcdef";
        std::string text;
        for (BYTE byte : digest) {
            text += kHex[byte >> 4];
            text += kHex[byte & 15];
        }
        return text;
    }
};

} // namespace

std::unique_ptr<Hashes> makeHashes()
{
    return std::make_unique<WinHashes>();
}

} // namespace platform::win32
