#pragma once
// How lengths and positions read wherever the program shows them: "12.3 s"
// below a minute, "1:02.5" from a minute on. Rounded to tenths before the
// form is chosen, so 59.96 s reads "1:00.0" rather than "60.0 s".

#include <string>

namespace media {

std::wstring timeText(double seconds);

} // namespace media
