/*
 * Test control of the chunk's dispatch: a record of the last action that
 * AlterRichText handed to the engine, with its parameters, so that a test
 * can check what a method issues whether or not the engine carries the
 * action out.
 *
 * Only tests include this header. The record exists only in the test
 * library (velko_testing, built with VELKO_TEST_CONTROLS); the shipped
 * library keeps none. It is process-wide: one test thread at a time.
 */
#ifndef VELKO_CHUNK_ACTION_RECORD_TESTING_H
#define VELKO_CHUNK_ACTION_RECORD_TESTING_H

#include <string>
#include <vector>

#include "velko/host_types.h"

struct recorded_action {
  WORD action = 0;
  WORD p1 = 0, p2 = 0, p3 = 0, p4 = 0;
  bool has_s1 = false, has_s2 = false;
  std::string s1, s2;          /* copies of the texts (empty when null) */
  std::string extra;           /* the extra definition, empty when none */
  const void* other = nullptr; /* the other chunk */
  std::string parameter_text;  /* the session's parameter text at the call */
  std::string result_text;     /* the session's result text (its length word) */
  std::string scratch_first, scratch_third;
  std::vector<std::string> cell_texts; /* the 20 cell text slots ("" for none) */
};

/* Forgets every recorded action and records from now on. */
void VelkoTestResetActionRecord();
/* Forgets every recorded action and records no more (the start state). */
void VelkoTestStopActionRecord();
/* The actions handed to the engine since the reset, in order. */
const std::vector<recorded_action>& VelkoTestRecordedActions();

#endif
