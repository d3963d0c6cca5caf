// The bytes the host compiles a formula into, for tests that store or
// compare compiled formulas.
#ifndef VELKO_TESTS_SUPPORT_COMPILED_FORMULA_H
#define VELKO_TESTS_SUPPORT_COMPILED_FORMULA_H

#include <gtest/gtest.h>

#include <string>

#include "host/formula.h"
#include "host/osmem.h"

namespace formula_testing {

/* The bytes NSFFormulaCompile makes of the formula. */
inline std::string Compiled(const char* formula) {
  FORMULAHANDLE handle = NULLHANDLE;
  WORD length = 0;
  EXPECT_EQ(NSFFormulaCompile(nullptr, 0, formula, 0, &handle, &length, nullptr, nullptr, nullptr,
                              nullptr, nullptr),
            NOERROR);
  const std::string bytes(static_cast<const char*>(OSLockObject(handle)), length);
  OSUnlockObject(handle);
  OSMemFree(handle);
  return bytes;
}

} // namespace formula_testing

#endif
