// Decisions of the client's shell that need no window: start-up language and switch, the
// first-use programs after a refresh, the browser command, where the notice slides in, and the
// About hot area of the header.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace client {

// Language at start: the first source that maps to a language wins (the "Language" value, the
// user's and the system's default UI language, the user's and the system's default language);
// a source that is absent is skipped. English when none maps.
struct LanguageSources {
  bool hasRegistry = false;
  uint32_t registry = 0;
  std::vector<uint32_t> system;  // the others, in order, as far as the system offers them
};
int ChooseLanguage(const LanguageSources &sources);

// The command line hides the window when it is "/min" in any letter case, and nothing else.
bool IsMinSwitch(const std::wstring &commandLine);

enum class FirstUse { kNothing, kOpenWebPage, kStartCheckTool, kTerminateBrowser };
// After a refresh: with tokens listed, open the bank's page when a certificate is shown, the
// browser started earlier is not running and the first token's serial number does not have "2"
// as its seventh character; start the check program when no certificate is shown. With no token
// listed, end the browser the client started (when it still has one).
FirstUse DecideFirstUse(bool anyToken, bool anyCertificate, bool browserRunning,
                        bool haveBrowser, const std::wstring &firstSerial);

// The browser's command (from "http\shell\open\command") cut after the executable, with the URL
// appended in quotes. The executable is the first quoted part, or the text up to ".exe" or the
// first blank when it is not quoted.
std::wstring BrowserCommandLine(const std::wstring &registryCommand, const std::wstring &url);

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

enum class Edge { kLeft, kTop, kRight, kBottom };
// The taskbar's side, from the work area against the screen size.
Edge TaskbarEdge(const Rect &workArea, int screenWidth, int screenHeight);
// Where the notice window of size w x h stands when `shown` pixels of it have come out of the
// edge (0 = hidden, extent = fully out); extent is h for the top and bottom, w for the sides.
Rect NoticeRect(Edge edge, const Rect &workArea, int w, int h, int shown);
int NoticeExtent(Edge edge, int w, int h);
constexpr int kNoticeStep = 4;  // pixels per slide step
// Milliseconds per step for a slide of `ms` over `extent` pixels.
int NoticeStepMs(int ms, int extent);

// The About hot area in the header: the text's extent, right edge as many pixels left of the
// client's right edge as the text has characters, centred vertically in the header less 4.
Rect AboutHotArea(int clientRight, int headerHeight, int textWidth, int textHeight, size_t chars);

}  // namespace client
