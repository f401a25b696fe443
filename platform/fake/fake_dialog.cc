// The fake's message boxes: answered from the test's script, recorded in the
// order shown.
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "platform/dialog.h"
#include "platform/fake/fake.h"
#include "platform/fake/state.h"

namespace fake {
namespace {

using namespace platform;

std::deque<int32_t> g_answers;
std::vector<MessageBoxRecord> g_boxes;
std::function<void(const MessageBoxRecord&)> g_onBox;

constexpr uint32_t kButtonMask = 0xF;

// The buttons a box of that type has; the first is the unscripted answer,
// the one that changes nothing.
std::vector<int32_t> Buttons(uint32_t type) {
  switch (type & kButtonMask) {
    case kMbOk: return {kIdOk};
    case kMbOkCancel: return {kIdCancel, kIdOk};
    case kMbYesNoCancel: return {kIdCancel, kIdYes, kIdNo};
    case kMbYesNo: return {kIdNo, kIdYes};
    default: return {};
  }
}

// A test that scripts an impossible answer, or a box the fake does not
// model, is wrong: stop it where it happens.
[[noreturn]] void Misuse(const char* what, uint32_t type, int32_t answer) {
  std::fprintf(stderr, "fake MessageBoxW: %s (type 0x%x, answer %d)\n", what,
               static_cast<unsigned>(type), static_cast<int>(answer));
  std::abort();
}

ResetHook g_resetDialogs([] {
  g_answers.clear();
  g_boxes.clear();
  g_onBox = nullptr;
});

}  // namespace

void AnswerMessageBoxes(const std::vector<int32_t>& answers) {
  g_answers.insert(g_answers.end(), answers.begin(), answers.end());
}

const std::vector<MessageBoxRecord>& MessageBoxes() { return g_boxes; }

void OnMessageBox(std::function<void(const MessageBoxRecord&)> hook) { g_onBox = std::move(hook); }

}  // namespace fake

namespace platform {

int32_t MessageBoxW(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                    uint32_t type) {
  if (owner && !fake::WindowExists(owner)) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  std::vector<int32_t> buttons = fake::Buttons(type);
  if (buttons.empty()) fake::Misuse("buttons not modelled", type, 0);
  // Where nobody sees it, nobody answers it: the caller would wait forever.
  if (!fake::SeenByAUser()) fake::Misuse("nobody sees this box, nobody will answer it", type, 0);
  int32_t answer = buttons.front();
  if (!fake::g_answers.empty()) {
    answer = fake::g_answers.front();
    fake::g_answers.pop_front();
    bool offered = false;
    for (int32_t b : buttons) offered = offered || b == answer;
    if (!offered) fake::Misuse("scripted answer is not a button of this box", type, answer);
  }
  fake::MessageBoxRecord record{owner, text, caption, type, answer};
  fake::g_boxes.push_back(record);
  if (fake::g_onBox) fake::g_onBox(record);
  return answer;
}

}  // namespace platform
