// The test program's own module, for window classes registered by the
// contract tests: the real one on Windows, the fake's on the host.
#ifndef TESTS_CONTRACT_TEST_MODULE_H_
#define TESTS_CONTRACT_TEST_MODULE_H_

#include "platform/draw.h"

platform::InstanceHandle TestModule();

#endif  // TESTS_CONTRACT_TEST_MODULE_H_
