/*
 * A formula's value as text: evaluating a started formula on a note and
 * writing its result by data type into a caller's buffer. Used where a
 * formula stands in for a field's text (the link matcher's keyword, value
 * and properties formulas) and where the renderer shows a formula's value.
 *
 * Not here: compiling or starting the formula (host/formula.h).
 */
#ifndef VELKO_STORE_FORMULA_VALUE_H
#define VELKO_STORE_FORMULA_VALUE_H

#include "velko/host_types.h"

/* How a number range is written: its first number alone, or every number
 * with ";" between them. */
enum class number_range_text { first_number, every_number };

/* Where a value's text goes, piece by piece. */
class formula_text_sink {
public:
  virtual void Put(const char* text, DWORD length) = 0;

protected:
  ~formula_text_sink() = default;
};

/* Writes the value (type word and value, as NSFComputeEvaluate gives it)
 * into the sink: text as it is; a text list with ";" between its entries;
 * a number with "%g"; a time in the host's text form; a time range's
 * times and then its pairs joined with ";". Other types write nothing. */
void WriteFormulaValue(const char* value, DWORD length, number_range_text ranges,
                       formula_text_sink* text);

/* Writes the value (type word and value, as NSFComputeEvaluate gives it)
 * into out (room bytes, NUL included; what does not fit is cut): text as
 * it is; a text list with ";" between its entries; a number with "%g"; a
 * time in the host's text form; a time range's times and then its pairs
 * joined with ";". Other types write nothing. Returns the length. */
DWORD FormulaValueText(const char* value, DWORD length, number_range_text ranges, char* out,
                       DWORD room);

/* Evaluates the started formula on the note into out as FormulaValueText
 * writes it; *length 0 when it gives no value. The evaluation's status. */
STATUS EvaluateFormulaText(DHANDLE compute, NOTEHANDLE note, number_range_text ranges, char* out,
                           DWORD room, DWORD* length);

#endif
