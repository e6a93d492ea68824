// The message loop of a program with modeless dialogs: filters see each message before it is
// dispatched (dialog keys), idle handlers run when the queue is empty.
#pragma once
#include <windows.h>

#include <vector>

namespace ui {

class CMessageFilter {
 public:
  // True when the message was consumed.
  virtual BOOL PreTranslateMessage(MSG *msg) = 0;

 protected:
  ~CMessageFilter() = default;
};

class CIdleHandler {
 public:
  virtual BOOL OnIdle() = 0;

 protected:
  ~CIdleHandler() = default;
};

class CMessageLoop {
 public:
  void AddMessageFilter(CMessageFilter *f) { filters_.push_back(f); }
  void RemoveMessageFilter(CMessageFilter *f);
  void AddIdleHandler(CIdleHandler *h) { idle_.push_back(h); }
  void RemoveIdleHandler(CIdleHandler *h);
  // Runs until WM_QUIT; returns its exit code.
  int Run();

 private:
  std::vector<CMessageFilter *> filters_;
  std::vector<CIdleHandler *> idle_;
};

}  // namespace ui
