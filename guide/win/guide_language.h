// The guide's language, chosen once at start-up from the user's choice in the client manager and
// the system's languages.
#pragma once

namespace guide {

// Sets the language index of every GuideText lookup: the first of these identifiers that maps
// to a language wins — the "Language" value of the client's key, the user's UI language, the
// system's UI language (on systems without that call: the desktop's resource locale on Windows
// 9x, else the language of ntdll.dll's version resource), the user's and the system's default
// language — and English when none does.
void SelectGuideLanguage();

}  // namespace guide
