/*
 * Evaluating compiled formulas for the renderer (render/formulas.h):
 * started, evaluated on the rendered item's note and stopped in one call,
 * and the hide-when test of a paragraph.
 */
#include "render/formulas.h"

#include <string.h>

#include "host/formula.h"
#include "host/nsfdata.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/body.h"

namespace {

/* The bytes before a compiled formula's source: magic, version and the
 * source length (a DWORD at offset 4). */
constexpr DWORD kCompiledHeaderLength = 8;

/* Whether the bytes hold all of the compiled formula they announce. */
bool HoldsWholeFormula(const char *formula, DWORD length) {
  if (formula == nullptr || length < kCompiledHeaderLength)
    return false;
  DWORD sourceLength = 0;
  memcpy(&sourceLength, formula + 4, sizeof sourceLength);
  return sourceLength <= length - kCompiledHeaderLength;
}

} // namespace

STATUS EvaluateRenderFormula(html_render_info *context, const char *formula, DWORD length,
                             DHANDLE *result, WORD *resultLength, bool *started) {
  *result = NULLHANDLE;
  *resultLength = 0;
  if (started != nullptr)
    *started = false;
  if (!HoldsWholeFormula(formula, length))
    return ERR_FORMULA_BAD_FORMULA;
  HCOMPUTE compute = NULLHANDLE;
  STATUS status = NSFComputeStart(0, formula, &compute);
  if (status != NOERROR)
    return status;
  if (started != nullptr)
    *started = true;
  const NOTEHANDLE note = context->item != nullptr ? context->item->note : NULLHANDLE;
  status = NSFComputeEvaluate(compute, note, result, resultLength, nullptr, nullptr, nullptr);
  NSFComputeStop(compute);
  return status;
}

bool HideWhenFormulaHides(html_render_info *context, const char *formula, DWORD length) {
  DHANDLE result = NULLHANDLE;
  WORD resultLength = 0;
  const STATUS status = EvaluateRenderFormula(context, formula, length, &result, &resultLength);
  if (status != NOERROR) {
    // A formula that does not evaluate hides nothing; memory running out
    // fails the output instead of showing what the formula may hide.
    if (status == VELKO_ERR_MEMORY && context->output_status == NOERROR)
      context->output_status = VELKO_ERR_MEMORY;
    return false;
  }
  const char *value = static_cast<const char *>(OSLockObject(result));
  WORD type = 0;
  if (resultLength >= sizeof type)
    memcpy(&type, value, sizeof type);
  /* A number follows its type word; a range's numbers follow its 4-byte
   * head. */
  const DWORD at = type == TYPE_NUMBER ? 2 : type == TYPE_NUMBER_RANGE ? 6 : 0;
  double number = 0.0;
  const bool isNumber = at != 0 && resultLength >= at + sizeof number;
  if (isNumber)
    memcpy(&number, value + at, sizeof number);
  OSUnlockObject(result);
  OSMemFree(result);
  return isNumber && number != 0.0;
}
