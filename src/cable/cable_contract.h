#pragma once
// What the program relies on from the outside virtual cable driver (VB-CABLE
// by VB-Audio): the names its endpoints carry, where its service is
// registered, how its package and installers are named, who signs them, and
// the stream format the engine opens its render side with. Any driver that
// presents endpoints with these names serves the same purpose.

#include <cstdint>
#include <string>
#include <string_view>

namespace cable {

// Render side: where the engine writes the processed voice.
inline constexpr std::wstring_view kRenderNamePattern = L"CABLE Input";
inline constexpr std::wstring_view kAdapterPattern = L"VB-Audio Virtual Cable";
// The multi-channel variant's endpoints are not the voice cable, unless their
// name says "CABLE Input" outright.
inline constexpr std::wstring_view kExcludedNamePattern = L"16ch";

// Capture side: what other programs pick as their microphone.
inline constexpr std::wstring_view kCaptureNamePattern = L"CABLE Output";
inline constexpr std::wstring_view kRenamedCaptureName = L"Omnimix";

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
inline constexpr uint32_t kStreamSampleRate = 48000;
inline constexpr uint16_t kStreamChannels = 2;
inline constexpr uint16_t kStreamBitsPerSample = 32; // IEEE float

// Endpoint matching on the endpoint's name and its adapter (interface) name.
bool isCableRender(std::wstring_view name, std::wstring_view adapter);
bool isCableCapture(std::wstring_view name, std::wstring_view adapter);
// Whether an Authenticode signer display name is the vendor's.
bool isTrustedSigner(std::wstring_view signerName);
// kPackagePrefix + version + kPackageSuffix.
std::wstring packageFileName(std::wstring_view version);

} // namespace cable
