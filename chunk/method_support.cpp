/*
 * Formula compiling and messages shared by the chunk's methods.
 */
#include "chunk/method_support.h"

#include <string.h>
#include <strings.h>

#include "host/formula.h"
#include "host/osenv.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/host_release.h"
#include "store/messages.h"

namespace {
constexpr WORD kErrorTextRoom = 1024;
}

WORD TextLength(const char* text) {
  if (text == nullptr)
    return 0;
  const size_t length = strlen(text);
  return length > 0xFFFF ? 0xFFFF : static_cast<WORD>(length);
}

bool IsEmptyText(const char* text) { return text == nullptr || text[0] == '\0'; }

bool SameWord(const char* text, const char* word) {
  return text != nullptr && strcasecmp(text, word) == 0;
}

void ClearResultText(LSXLsiSession* session) {
  session->result_length = 0;
  session->result_text[0] = '\0';
}

compiled_formula CompileFormulaInto(const char* text, WORD length, char* dest, size_t room) {
  compiled_formula result;
  FORMULAHANDLE formula = NULLHANDLE;
  WORD formulaLength = 0;
  STATUS error = NOERROR;
  STATUS status = NSFFormulaCompile(nullptr, 0, text, length, &formula, &formulaLength, &error,
                                    nullptr, nullptr, nullptr, nullptr);
  if (status != NOERROR) {
    if (formula != NULLHANDLE)
      ReleaseHostMemory(formula);
    result.status = status;
    result.compile_error = error != NOERROR ? error : status;
    return result;
  }
  const char* compiled = static_cast<const char*>(OSLockObject(formula));
  if (compiled == nullptr) {
    ReleaseHostMemory(formula);
    result.status = 263;
    return result;
  }
  if (formulaLength > room) {
    result.too_long = true;
  } else {
    memcpy(dest, compiled, formulaLength);
    result.length = formulaLength;
  }
  OSUnlockObject(formula);
  ReleaseHostMemory(formula);
  return result;
}

void ShowFormulaError(STATUS error) {
  char message[8 + kErrorTextRoom + 1] = "Tarno: ";
  OSLoadString(NULLHANDLE, static_cast<STATUS>(error & STATUS_CODE_MASK), message + 7,
               kErrorTextRoom + 1);
  ShowUserMessage(message);
}
