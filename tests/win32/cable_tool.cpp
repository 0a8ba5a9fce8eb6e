// The Windows side of the cable tests: trusts a test's root certificate in
// the prefix, runs the checked installer step with the program's real
// services, and reports what the signature service makes of a file.
//   cable_tool add-root CERT.der      the machine's Root store trusts it
//   cable_tool signer PATH            prints the verified signer, or "none"
//   cable_tool run-installer PATH     verifyAndRunInstaller; its code is the exit code

#include "cable/cable.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <objbase.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int addRoot(const wchar_t* path)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fprintf(stderr, "cannot read %ls\n", path);
        return 1;
    }
    HCERTSTORE root = CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG, L"Root");
    if (!root) {
        std::fprintf(stderr, "cannot open the machine's Root store (%lu)\n", GetLastError());
        return 1;
    }
    const BOOL added
        = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(root, 0);
    if (!added) {
        std::fprintf(stderr, "the certificate was not added (%lu)\n", GetLastError());
        return 1;
    }
    return 0;
}

int signer(const wchar_t* path)
{
    auto signatures = platform::win32::makeSignatures();
    auto held = signatures->hold(path);
    if (!held) {
        std::printf("cannot open\n");
        return 1;
    }
    const auto name = signatures->verifiedSigner(*held, path);
    std::printf("%ls\n", name ? name->c_str() : L"none");
    return 0;
}

int runInstaller(const wchar_t* path)
{
    auto clock = platform::win32::makeClock();
    auto files = platform::win32::makeFiles();
    auto processes = platform::win32::makeProcesses();
    auto signatures = platform::win32::makeSignatures();
    return cable::verifyAndRunInstaller(*clock, *files, *processes, *signatures, path, [] { return true; });
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // The shell's start of a program wants COM on the calling thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring command = argc >= 3 ? argv[1] : L"";
    if (command == L"add-root")
        return addRoot(argv[2]);
    if (command == L"signer")
        return signer(argv[2]);
    if (command == L"run-installer")
        return runInstaller(argv[2]);
    std::fprintf(stderr, "usage: cable_tool add-root CERT.der | signer PATH | run-installer PATH\n");
    return 64;
}
