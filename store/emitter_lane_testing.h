/*
 * Test control of the lane of unchanged records (store/emitter.h): with it
 * off, every record of a writing walk takes the full per-record step and
 * CopyCDUpdated, every record of a query of a chunk's last record takes
 * the per-record step, and a walk takes none of the shortcuts that what the load of its body
 * met allows (the clean-up pass and the search for the highest definition
 * walk the list). Only in the test library (VELKO_TEST_CONTROLS);
 * the control is process-wide.
 */
#ifndef VELKO_STORE_EMITTER_LANE_TESTING_H
#define VELKO_STORE_EMITTER_LANE_TESTING_H

/* Turns the lane on (as it starts) or off. */
void VelkoTestSetEmitterLane(bool on);

#endif
