/*
 * Test control of the line wrap's scan (render/output_stage.cpp): with it
 * off, the scan looks at every place of a line in turn instead of
 * stepping from one byte it acts on to the next (or taking a line of the
 * common kind in one pass). Only in the test library
 * (VELKO_TEST_CONTROLS); the control is process-wide.
 */
#ifndef VELKO_RENDER_OUTPUT_STAGE_TESTING_H
#define VELKO_RENDER_OUTPUT_STAGE_TESTING_H

/* Turns the stepping scan on (as it starts) or off. */
void VelkoTestSetWrapScanByBits(bool on);

#endif
