/*
 * Compiled formulas met while rendering: a paragraph's hide-when formula
 * and the formula texts written as translated text. Both are evaluated
 * against the note of the item being rendered.
 *
 * A formula's bytes come from a record, so they are checked to hold the
 * whole compiled formula their header announces before the host reads
 * them. Nothing here reports an error: a formula that does not start or
 * evaluate simply has no result.
 */
#ifndef VELKO_RENDER_FORMULAS_H
#define VELKO_RENDER_FORMULAS_H

#include "render/render_info.h"

/* Evaluates the compiled formula (length bytes) against the rendered note;
 * on NOERROR *result is a new memory block (type word and value; the caller
 * frees it with OSMemFree) of *resultLength bytes. *started (when given)
 * says whether the formula started, so that a failure of its evaluation
 * can be told from data that is no formula. */
STATUS EvaluateRenderFormula(html_render_info *context, const char *formula, DWORD length,
                             DHANDLE *result, WORD *resultLength, bool *started = nullptr);

/* Whether the compiled hide-when formula hides its paragraph: a number, or
 * the first number of a number range, that is not 0. Any other result and
 * any failure hide nothing. */
bool HideWhenFormulaHides(html_render_info *context, const char *formula, DWORD length);

struct render_text;
/* The result of the compiled formula as text (a time in the host's text
 * form, a number with "%g", a list's entries joined by ";") appended to
 * out; else the status of the formula's start or evaluation (263 when
 * memory ran out), *started as EvaluateRenderFormula gives it. */
STATUS RenderFormulaText(html_render_info *context, const char *formula, DWORD length,
                         render_text *out, bool *started = nullptr);

#endif
