#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/trace.h"

namespace fake {
namespace {

std::vector<std::string> g_lines;

ResetHook g_resetTrace([] { g_lines.clear(); });

}  // namespace

const std::vector<std::string>& TraceLines() { return g_lines; }

}  // namespace fake

namespace platform {

void OutputDebugStringA(const std::string& text) { fake::g_lines.push_back(text); }

void OutputDebugStringW(const std::wstring& text) { fake::g_lines.push_back(fake::ToUtf8(text)); }

}  // namespace platform
