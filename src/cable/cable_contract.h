#pragma once
// What the program relies on from the outside virtual cable driver (VB-CABLE
// by VB-Audio): where its service is registered, how its package and
// installers are named and who signs them. The names its endpoints carry and
// the rule that recognises them are the engine's (engine/endpoints.h), which
// opens the cable; this subsystem uses the same rule. Any driver that
// presents endpoints with those names serves the same purpose.

#include <cstdint>
#include <string>
#include <string_view>

namespace cable {

// Driver presence (local machine hive).
inline constexpr std::wstring_view kServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\VBAudioVACMME";

// Package: kPackagePrefix + version + kPackageSuffix under kDownloadPath of the
// vendor's download host; the vendor's page under kVersionsPagePath lists versions.
inline constexpr std::wstring_view kPackagePrefix = L"VBCABLE_Driver_Pack";
inline constexpr std::wstring_view kPackageSuffix = L".zip";
inline constexpr std::wstring_view kDownloadPath = L"/Download_CABLE/";
inline constexpr std::wstring_view kVersionsPagePath = L"/Cable/";

// Installers inside the package, in order of preference.
inline constexpr std::wstring_view kInstallers[] = {L"VBCABLE_Setup_x64.exe", L"VBCABLE_Setup.exe"};

// Authenticode signer display name, lower-cased, must contain one of these.
inline constexpr std::wstring_view kSignerSubstrings[] = {L"vb-audio", L"kardel"};

// The render side is opened in shared mode with this format; the platform converts.
inline constexpr uint16_t kStreamChannels = 2;
inline constexpr uint16_t kStreamBitsPerSample = 32; // IEEE float

// Whether an Authenticode signer display name is the vendor's.
bool signerAccepted(std::wstring_view signerName);
// kPackagePrefix + version + kPackageSuffix.
std::wstring packageFileName(std::wstring_view version);

} // namespace cable
