/*
 * The pieces behind NSFFormulaCompile and NSFFormulaDecompile: the layout of
 * a compiled formula and the syntax checker of the formula language.
 *
 * The checker only says whether a formula is well formed and where its
 * first error is; it builds no tree and evaluates nothing. Neither the
 * engine nor tests include this header.
 */
#ifndef VELKO_HOST_FORMULA_INTERNAL_H
#define VELKO_HOST_FORMULA_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "velko/host_types.h"

namespace velko::host {

// A compiled formula: this header, then sourceLength bytes of LMBCS source.
// Words are in the host's byte order; the block may sit at any address, so
// it is read and written with memcpy.
struct CompiledFormulaHeader {
  WORD magic;
  WORD version;
  DWORD sourceLength;
};
static_assert(sizeof(CompiledFormulaHeader) == 8);
static_assert(offsetof(CompiledFormulaHeader, version) == 2);
static_assert(offsetof(CompiledFormulaHeader, sourceLength) == 4);

constexpr WORD kCompiledFormulaMagic = 0x4D46; // the bytes "FM"
constexpr WORD kCompiledFormulaVersion = 1;

// The compiled length is returned as a WORD, so the source may take what
// the header leaves of 64 KB.
constexpr size_t kMaxFormulaSourceLength = 0xFFFF - sizeof(CompiledFormulaHeader);

// Nested parentheses, argument lists, subscripts and prefix operators a
// formula may open before the checker refuses it (which bounds its stack).
constexpr size_t kMaxFormulaNesting = 256;

// The first syntax error of a formula; code is NOERROR for a sound formula.
// offset is in bytes from the start; length is the bytes of the offending
// token (0 at the end of the formula).
struct FormulaSyntaxError {
  STATUS code = NOERROR;
  size_t offset = 0;
  size_t length = 0;
};

// Checks the whole formula (LMBCS). An empty formula, or one of blanks
// only, is sound.
FormulaSyntaxError CheckFormulaSyntax(std::string_view formula);

// Line and column (both from 1) of a byte offset. Lines end at LF, CR or
// CR LF; columns count LMBCS characters, a tab being one.
struct FormulaPosition {
  size_t line = 1;
  size_t column = 1;
};
FormulaPosition FormulaPositionOf(std::string_view formula, size_t offset);

// The compiled form the evaluator runs: the formula in postfix order, each
// instruction naming its token in the source (which must outlive it).
enum class FormulaOp : uint8_t {
  kNumber,       // a number constant
  kText,         // "..." or {...}, quotes included
  kConstant,     // [keyword] or [time-date], brackets included
  kName,         // a temporary variable or a field of the note
  kAssign,       // name := value (the value stays on the stack)
  kField,        // FIELD name := value
  kDefault,      // DEFAULT name := value
  kEnvironment,  // ENVIRONMENT name := value
  kStatement,    // the value on the stack becomes the formula's result
  kSelect,       // SELECT value: the result and the note-matches answer
  kUnary,        // "!", "+" or "-" on the value on the stack
  kBinary,       // an operator on the two values on the stack
  kSubscript,    // value[index]
  kCall,         // "@" name and count arguments
  kIsAvailable,  // @IsAvailable(name): token is the name
};

struct FormulaInstruction {
  FormulaOp op;
  std::string_view token;
  size_t count = 0;
};

using FormulaProgram = std::vector<FormulaInstruction>;

// Checks the formula as CheckFormulaSyntax does and, when it is sound,
// fills program with its postfix form (an empty formula: no instructions).
FormulaSyntaxError CompileFormulaProgram(std::string_view formula, FormulaProgram* program);

// TRUE for the name (without "@", any case) of an @function the compiler
// knows.
bool IsKnownFormulaFunction(std::string_view name);

} // namespace velko::host

#endif
