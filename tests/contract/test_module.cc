#include "tests/contract/test_module.h"

#ifdef _WIN32
#include <windows.h>

platform::InstanceHandle TestModule() { return GetModuleHandleW(nullptr); }
#else
#include "platform/fake/fake.h"

platform::InstanceHandle TestModule() { return fake::MainInstance(); }
#endif
