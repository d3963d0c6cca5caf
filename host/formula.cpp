/*
 * NSFFormulaCompile and NSFFormulaDecompile. Compiling checks the whole
 * syntax (host/formula_parser.cpp) and stores the source itself behind a
 * small header (host/formula_internal.h), so decompiling gives back the
 * exact text. Evaluation is in host/formula_compute.cpp. A syntax check
 * that runs out of memory is ERR_MEMORY.
 */
#include "host/formula.h"

#include <cstring>
#include <string_view>

#include "host/formula_internal.h"
#include "host/host_internal.h"
#include "host/osmem.h"
#include "host/status.h"

namespace {

using velko::host::CompiledFormulaHeader;

constexpr WORD kWordMax = 0xFFFF;

WORD ClampToWord(size_t value) { return static_cast<WORD>(value < kWordMax ? value : kWordMax); }

template <typename T> void SetIfWanted(T* out, T value) {
  if (out != nullptr)
    *out = value;
}

struct CompileErrorOutputs {
  STATUS* code;
  WORD* line;
  WORD* column;
  WORD* offset;
  WORD* length;

  void Set(STATUS errorCode, WORD errorLine, WORD errorColumn, WORD errorOffset,
           WORD errorLength) const {
    SetIfWanted(code, errorCode);
    SetIfWanted(line, errorLine);
    SetIfWanted(column, errorColumn);
    SetIfWanted(offset, errorOffset);
    SetIfWanted(length, errorLength);
  }
};

// Copies bytes into a new block of exactly that size.
STATUS NewBlockWith(const void* header, size_t headerLength, std::string_view body,
                    DHANDLE* retHandle) {
  const STATUS status =
      OSMemAlloc(MEM_TYPE_ENGINE, static_cast<DWORD>(headerLength + body.size()), retHandle);
  if (status != NOERROR)
    return status;
  auto* block = static_cast<BYTE*>(OSLockObject(*retHandle));
  if (headerLength > 0)
    std::memcpy(block, header, headerLength);
  if (!body.empty())
    std::memcpy(block + headerLength, body.data(), body.size());
  OSUnlockObject(*retHandle);
  return NOERROR;
}

// The syntax check of the whole formula into *error; ERR_MEMORY when it
// runs out of memory.
STATUS CheckSyntax(std::string_view source, velko::host::FormulaSyntaxError* error) {
  return velko::host::GuardedStatus([&] {
    *error = velko::host::CheckFormulaSyntax(source);
    return NOERROR;
  });
}

} // namespace

extern "C" STATUS NSFFormulaCompile(const char* /*formulaName*/, WORD /*formulaNameLength*/,
                                    const char* formulaText, WORD formulaLength,
                                    FORMULAHANDLE* retFormula, WORD* retFormulaLength,
                                    STATUS* retCompileError, WORD* retCompileErrorLine,
                                    WORD* retCompileErrorColumn, WORD* retCompileErrorOffset,
                                    WORD* retCompileErrorLength) {
  const CompileErrorOutputs errorOutputs{retCompileError, retCompileErrorLine,
                                         retCompileErrorColumn, retCompileErrorOffset,
                                         retCompileErrorLength};
  errorOutputs.Set(NOERROR, 0, 0, 0, 0);
  SetIfWanted<WORD>(retFormulaLength, 0);
  if (retFormula == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retFormula = NULLHANDLE;
  if (formulaText == nullptr)
    return ERR_HOST_BAD_ARGUMENT;

  // A NUL-terminated text is measured only as far as the longest source
  // that fits.
  const size_t length =
      formulaLength != 0
          ? formulaLength
          : velko::host::BoundedLength(formulaText, velko::host::kMaxFormulaSourceLength + 1);
  if (length > velko::host::kMaxFormulaSourceLength)
    return ERR_FORMULA_TOO_LONG;
  const std::string_view source(formulaText, length);

  velko::host::FormulaSyntaxError error;
  if (const STATUS status = CheckSyntax(source, &error); status != NOERROR)
    return status;
  if (error.code != NOERROR) {
    const velko::host::FormulaPosition position =
        velko::host::FormulaPositionOf(source, error.offset);
    errorOutputs.Set(error.code, ClampToWord(position.line), ClampToWord(position.column),
                     ClampToWord(error.offset), ClampToWord(error.length));
    return ERR_FORMULA_COMPILE;
  }

  const CompiledFormulaHeader header{velko::host::kCompiledFormulaMagic,
                                     velko::host::kCompiledFormulaVersion,
                                     static_cast<DWORD>(length)};
  const STATUS status = NewBlockWith(&header, sizeof header, source, retFormula);
  if (status != NOERROR)
    return status;
  SetIfWanted(retFormulaLength, static_cast<WORD>(sizeof header + length));
  return NOERROR;
}

extern "C" STATUS NSFFormulaDecompile(const char* formulaBuffer, BOOL /*selectionFormula*/,
                                      DHANDLE* retFormulaText, WORD* retFormulaTextLength) {
  SetIfWanted<DHANDLE>(retFormulaText, NULLHANDLE);
  SetIfWanted<WORD>(retFormulaTextLength, 0);
  if (formulaBuffer == nullptr || retFormulaText == nullptr)
    return ERR_HOST_BAD_ARGUMENT;

  CompiledFormulaHeader header;
  std::memcpy(&header, formulaBuffer, sizeof header);
  if (header.magic != velko::host::kCompiledFormulaMagic ||
      header.version != velko::host::kCompiledFormulaVersion ||
      header.sourceLength > velko::host::kMaxFormulaSourceLength)
    return ERR_FORMULA_BAD_FORMULA;

  const std::string_view source(formulaBuffer + sizeof header, header.sourceLength);
  const STATUS status = NewBlockWith(nullptr, 0, source, retFormulaText);
  if (status != NOERROR)
    return status;
  SetIfWanted(retFormulaTextLength, static_cast<WORD>(source.size()));
  return NOERROR;
}
