/*
 * The output stage of a rendering run: the three passes a flush runs over
 * the held text, in this order, and the MIME part file they write to.
 *
 *   ProcessHTMLTranslation  LMBCS to the output character set
 *   ProcessHTMLEncoding     quoted-printable transfer encoding
 *   ProcessHTMLOutput       line wrapping and the sink
 *
 * Each pass works only on the part of the held text that has not passed it
 * yet (the context's output_translated, output_encoded and output_wrapped
 * counters), so text is never converted, encoded or wrapped twice however
 * often the passes run. The output pass runs the two earlier passes on
 * what they have not seen. Writers normally call RenderFlush
 * (render/output_buffer.h), which runs all three.
 *
 * Sinks, in order: the caller's file, the open MIME part file (or the
 * caller's memory in its place), the output callback (OutputToEvent, not
 * on a final flush); without any, the text stays in the buffer. A final
 * flush opens no part file and does not call the callback, so that what
 * it leaves stays for the caller.
 */
#ifndef VELKO_RENDER_OUTPUT_STAGE_H
#define VELKO_RENDER_OUTPUT_STAGE_H

#include "render/render_info.h"

/* Status of a sink write (fwrite, fflush, fclose) that failed. */
constexpr STATUS kOutputWriteFailed = 257;

/* Converts the held text not yet translated from LMBCS to the output
 * character set. 0, or 263 when the result does not fit. */
STATUS ProcessHTMLTranslation(html_render_info *context);

/* Quoted-printable encoding (encoding_flags) of the held text not yet
 * encoded, after translating it; without an encoding bit the text is only
 * marked as passed. 0, or 263 when the result does not fit. */
STATUS ProcessHTMLEncoding(html_render_info *context);

/* Wraps the held text (max_line_length; 0: no wrapping) and hands it to
 * the sink; final as above. A non-final flush with a sink keeps an
 * unfinished last line in the buffer for the next flush; without a sink
 * a non-final flush leaves everything as it is. 0, 263 when memory or room
 * runs out, kOutputWriteFailed when a write to a file fails. */
STATUS ProcessHTMLOutput(html_render_info *context, DWORD final);

/* Runs the held text that has not passed them through the three passes,
 * as a final flush without a sink does: it is translated, encoded and
 * wrapped in place and stays held, whatever sink the run has. For text
 * written after the run's final flush (the closing text), which the
 * caller takes from the buffer. */
STATUS ProcessHeldText(html_render_info *context);

/* Opens the next MIME part file "MP%d_%d.html" of the run in the temporary
 * directory (its path on disk is made unique). False after 100 failures.
 * A run with part_memory opens no file: the part is named and takes its
 * text in the caller's memory. */
bool OpenMimePartFile(html_render_info *context);

/* Whether the run's MIME part is open: a part file, or the caller's
 * memory. */
inline bool MimePartOpen(const html_render_info *context) {
  return context->part_file != nullptr || context->part_memory_open != 0;
}

/* Flushes and closes the part file; 0 or kOutputWriteFailed. */
STATUS CloseMimePartFile(html_render_info *context);

/* Whether the line wrap steps from one byte it acts on to the next (and
 * takes a line of the common kind in one pass): always, unless a test
 * turned it off (render/output_stage_testing.h). */
bool WrapScanByBits();

#endif
