#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace platform::win32 {
namespace {

constexpr DWORD kMaxSignerChars = 256;

class WinHeldFile final : public HeldFile {
public:
    explicit WinHeldFile(HANDLE file) : file_(file) { }
    ~WinHeldFile() override { CloseHandle(file_); }
    WinHeldFile(const WinHeldFile&) = delete;
    WinHeldFile& operator=(const WinHeldFile&) = delete;
    HANDLE handle() const { return file_; }

private:
    HANDLE file_;
};

// The first signer's simple display name from a verification's state.
std::optional<std::wstring> firstSignerName(HANDLE state)
{
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain || !signer->pasCertChain[0].pCert)
        return std::nullopt;
    wchar_t name[kMaxSignerChars + 1] = {};
    const DWORD chars = CertGetNameStringW(
        signer->pasCertChain[0].pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, kMaxSignerChars + 1);
    // chars counts the terminator; 1 is an empty name.
    if (chars <= 1)
        return std::nullopt;
    return std::wstring(name);
}

class WinSignatures final : public Signatures {
public:
    std::unique_ptr<HeldFile> hold(const std::wstring& path) override
    {
        HANDLE file = CreateFileW(
            path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return nullptr;
        return std::make_unique<WinHeldFile>(file);
    }

    std::optional<std::wstring> verifiedSigner(HeldFile& file, const std::wstring& path) override
    {
        // The held handle is what gets hashed, so a file swapped under the
        // path after hold() is not what is verified.
        WINTRUST_FILE_INFO info{};
        info.cbStruct = sizeof(info);
        info.pcwszFilePath = path.c_str();
        info.hFile = static_cast<WinHeldFile&>(file).handle();

        WINTRUST_DATA data{};
        data.cbStruct = sizeof(data);
        data.dwUIChoice = WTD_UI_NONE;
        data.fdwRevocationChecks = WTD_REVOKE_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &info;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        // No hash-only shortcut: the whole file's digest and the signer's chain.
        data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;

        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        const LONG trust = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        std::optional<std::wstring> signer;
        if (trust == ERROR_SUCCESS && data.hWVTStateData)
            signer = firstSignerName(data.hWVTStateData);
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        return signer;
    }
};

} // namespace

std::unique_ptr<Signatures> makeSignatures()
{
    return std::make_unique<WinSignatures>();
}

} // namespace platform::win32
