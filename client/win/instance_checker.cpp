#include "instance_checker.h"

#include <stdint.h>

namespace client {

CInstanceChecker::CInstanceChecker(const wchar_t *uniqueName) : name_(uniqueName) {}

CInstanceChecker::~CInstanceChecker() {
  if (mapping_) CloseHandle(mapping_);
}

bool CInstanceChecker::IsAnotherInstanceRunning() const {
  HANDLE h = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, GetMappingName().c_str());
  if (!h) return false;
  CloseHandle(h);
  return true;
}

bool CInstanceChecker::PublishMainWindow(HWND wnd) {
  if (!mapping_)
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(uint64_t),
                                  GetMappingName().c_str());
  if (!mapping_) return false;
  void *view = MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, sizeof(uint64_t));
  if (!view) return false;
  *static_cast<uint64_t *>(view) = uint64_t(reinterpret_cast<uintptr_t>(wnd));
  UnmapViewOfFile(view);
  return true;
}

HWND CInstanceChecker::PublishedWindow() const {
  HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, GetMappingName().c_str());
  if (!h) return nullptr;
  HWND wnd = nullptr;
  if (void *view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, sizeof(uint64_t))) {
    wnd = reinterpret_cast<HWND>(uintptr_t(*static_cast<const uint64_t *>(view)));
    UnmapViewOfFile(view);
  }
  CloseHandle(h);
  return wnd;
}

}  // namespace client
