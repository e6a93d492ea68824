#include "shell_logic.h"

#include <algorithm>

#include "ui_text.h"

namespace client {

int ChooseLanguage(const LanguageSources &sources) {
  if (sources.hasRegistry) {
    int l = ui::MapLanguageId(sources.registry);
    if (l >= 0) return l;
  }
  for (uint32_t id : sources.system) {
    int l = ui::MapLanguageId(id);
    if (l >= 0) return l;
  }
  return ui::kEnglish;
}

bool IsMinSwitch(const std::wstring &commandLine) {
  std::wstring s = commandLine;
  for (auto &c : s)
    if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
  return s == L"/min";
}

FirstUse DecideFirstUse(bool anyToken, bool anyCertificate, bool browserRunning,
                        bool haveBrowser, const std::wstring &firstSerial) {
  if (!anyToken) return haveBrowser ? FirstUse::kTerminateBrowser : FirstUse::kNothing;
  if (!anyCertificate) return FirstUse::kStartCheckTool;
  bool class2 = firstSerial.size() >= 7 && firstSerial[6] == L'2';
  if (!browserRunning && !class2) return FirstUse::kOpenWebPage;
  return FirstUse::kNothing;
}

std::wstring BrowserCommandLine(const std::wstring &registryCommand, const std::wstring &url) {
  std::wstring exe;
  size_t start = registryCommand.find_first_not_of(L" \t");
  if (start == std::wstring::npos) start = registryCommand.size();
  if (start < registryCommand.size() && registryCommand[start] == L'"') {
    size_t close = registryCommand.find(L'"', start + 1);
    exe = registryCommand.substr(start, close == std::wstring::npos ? std::wstring::npos
                                                                   : close - start + 1);
    if (close == std::wstring::npos) exe += L'"';
  } else {
    std::wstring lower = registryCommand;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c; });
    size_t end = lower.find(L".exe", start);
    if (end != std::wstring::npos) end += 4;
    else end = registryCommand.find_first_of(L" \t", start);
    exe = registryCommand.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
  }
  return exe + L" \"" + url + L"\"";
}

Edge TaskbarEdge(const Rect &workArea, int screenWidth, int screenHeight) {
  if (workArea.left > 0) return Edge::kLeft;
  if (workArea.top > 0) return Edge::kTop;
  if (workArea.right < screenWidth) return Edge::kRight;
  (void)screenHeight;
  return Edge::kBottom;
}

int NoticeExtent(Edge edge, int w, int h) {
  return (edge == Edge::kTop || edge == Edge::kBottom) ? h : w;
}

Rect NoticeRect(Edge edge, const Rect &work, int w, int h, int shown) {
  Rect r;
  switch (edge) {
    case Edge::kBottom:
      r.left = work.right - w;
      r.top = work.bottom - shown;
      break;
    case Edge::kTop:
      r.left = work.right - w;
      r.top = work.top - h + shown;
      break;
    case Edge::kLeft:
      r.left = work.left - w + shown;
      r.top = work.bottom - h;
      break;
    case Edge::kRight:
      r.left = work.right - shown;
      r.top = work.bottom - h;
      break;
  }
  r.right = r.left + w;
  r.bottom = r.top + h;
  return r;
}

int NoticeStepMs(int ms, int extent) {
  int steps = extent / kNoticeStep;
  if (steps < 1) steps = 1;
  int t = ms / steps;
  return t < 1 ? 1 : t;
}

Rect AboutHotArea(int clientRight, int headerHeight, int textWidth, int textHeight, size_t chars) {
  Rect r;
  r.right = clientRight - int(chars);
  r.left = r.right - textWidth;
  r.top = (headerHeight - textHeight) / 2 - 4;
  r.bottom = r.top + textHeight;
  return r;
}

}  // namespace client
