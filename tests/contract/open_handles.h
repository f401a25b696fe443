// The handles a contract test opened, so its tear-down can close what an
// early return left open before it removes the files under them.
#ifndef TESTS_CONTRACT_OPEN_HANDLES_H_
#define TESTS_CONTRACT_OPEN_HANDLES_H_

#include <gtest/gtest.h>

#include <vector>

#include "platform/file.h"

class OpenHandles {
 public:
  platform::Handle Track(platform::Handle h) {
    if (h != platform::kInvalidHandleValue) open_.push_back(h);
    return h;
  }
  // Closes one handle the test is done with; it must close.
  void Close(platform::Handle h) {
    for (auto it = open_.begin(); it != open_.end(); ++it) {
      if (*it == h) {
        open_.erase(it);
        break;
      }
    }
    EXPECT_TRUE(platform::CloseHandle(h));
  }
  void CloseAll() {
    for (platform::Handle h : open_) platform::CloseHandle(h);
    open_.clear();
  }

 private:
  std::vector<platform::Handle> open_;
};

#endif  // TESTS_CONTRACT_OPEN_HANDLES_H_
