/*
 * The row append from a template row (AppendRow without its copy flag):
 * a new row of a table built from the records of an existing row of the
 * same table, its structure kept and its contents replaced from the
 * session's per-cell strings (Text=, TextFont=, CellColor=, VertAlign=,
 * RowHeight=, TabLabel=, RowName=, BackgroundImage=, CellHTML...=), or
 * from plain text when a string has no Text=.
 *
 * Runs inside the chunk append service (chunk/append_chunk.cpp), over its
 * walk of the chunk's own item. Not here: the copy of a row as it stands
 * (the copy flag set), which the copying appends do.
 */
#ifndef VELKO_CHUNK_APPEND_ROW_H
#define VELKO_CHUNK_APPEND_ROW_H

#include "velko/velko.h"

struct chunk_process_state;
struct record_storage;

/* The status and secondary status of a template row holding a cell that
 * spans rows or columns: the row is not appended. */
constexpr STATUS kSpannedCellStatus = 257;
constexpr WORD kSpannedCellError = 20017;

/* A cell of the template row that spans rows or columns (Flags 0x08, or a
 * RowSpan above 1) refuses the row in either mode: 257, with 20017 as the
 * error word and the secondary status. 0 for any other record. */
STATUS RefuseSpannedCell(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state);

/* Appends to the operation's output a row built from the template row the
 * state's append target names (its first and last record ordinals). 0, or
 * the first failing status; 1028 for a row copied as it stands (p3, the
 * copy flag, non-zero), which is not built here. */
STATUS AppendRowFromTemplate(VelkoRTChunk* chunk, chunk_process_state* state);

/* One record of the template row, inside the range: dropped, emitted
 * (perhaps changed) or replaced by the records its cell string asks for. */
STATUS AppendTemplateRowRecord(const record_storage* node, chunk_process_state* state);

/* The append service's walk over the records of the chunk's own item in
 * the state's range (chunk/append_chunk.cpp), each through its record
 * step. */
STATUS AppendOwnItem(VelkoRTChunk* chunk, chunk_process_state* state);

#endif
