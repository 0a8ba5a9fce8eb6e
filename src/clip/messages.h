#pragma once
// The clip player's and loaders' status texts, as the Sound Clip tab and the
// media log show them.

namespace clip {

inline constexpr wchar_t kNoMediaFoundation[] = L"Windows is missing its Media Feature Pack, install it to play sounds";
inline constexpr wchar_t kEmptySource[] = L"Enter an http(s) link or choose a local sound file.";
inline constexpr wchar_t kBadWebLink[] = L"Invalid web link. Only valid http:// and https:// URLs are supported.";
inline constexpr wchar_t kNotLinkOrPath[] = L"Only http:// and https:// links or local audio files are supported.";
inline constexpr wchar_t kCannotOpenLink[] = L"Can't open that link";
inline constexpr wchar_t kCannotOpenFile[] = L"Can't open that file";
inline constexpr wchar_t kUnplayableFormat[] = L"Windows can't play this format";
inline constexpr wchar_t kStoppedHalfway[] = L"The sound stopped halfway";
inline constexpr wchar_t kNoSoundFromLink[] = L"No sound came out of that link";
inline constexpr wchar_t kFileHasNoSound[] = L"That file has no sound";
inline constexpr wchar_t kOpening[] = L"Opening...";
inline constexpr wchar_t kPlaying[] = L"Playing";

} // namespace clip
