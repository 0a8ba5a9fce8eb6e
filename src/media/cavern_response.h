#pragma once
// The cavern's recorded form as a file: the optional impulse response beside
// the program, read with the program's own WAV reader.

#include "dsp/convolution.h"
#include "platform/files.h"

#include <string>

namespace media {

// The response's file name, looked for beside the program.
inline constexpr const wchar_t* kCavernResponseFile = L"haunted_cavern_ir.wav";

// Reads "haunted_cavern_ir.wav" from `folder` and loads it into `into`; false
// (the procedural cavern stays) when the file is missing, unreadable or not
// accepted.
bool loadCavernResponse(platform::Files& files, const std::wstring& folder, dsp::ConvolutionReverb& into);

} // namespace media
