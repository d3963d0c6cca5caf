/*
 * The item-level export: a connected rich-text item rendered whole
 * ("Everything") through the chunk's GenerateHTMLToMime, as an HTML file
 * (SaveAsHTMLInternal) or as an RFC 822 message with the rendered HTML and
 * the images, link icons and attachments it refers to (SaveAsMimeInternal).
 *
 * Both write to an open stdio file; what is written to a named file goes
 * through a temporary file beside it that is renamed into place once whole
 * (whole_file), so that a failure leaves no file behind.
 *
 * Also the readers the message builder takes its parts with: the data of
 * an image of the records, and the bytes of a note's attachment.
 *
 * Not here: the rendering itself (render/), reading MIME (export/
 * mime_read.h).
 */
#ifndef VELKO_EXPORT_ITEM_EXPORT_H
#define VELKO_EXPORT_ITEM_EXPORT_H

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "render/render_info.h"
#include "velko/velko.h"

struct record_storage;

/* What every export checks first: 0 for a connected item and options the
 * renderer can take (their length is a 16-bit word, else 1028); 259 when
 * the item is not connected. */
STATUS CheckItemExport(const VelkoRTItem* item, const char* options);

/* Leaves the status in the item's last_status, as its other methods do,
 * and returns it. */
inline STATUS FinishItemExport(VelkoRTItem* item, STATUS status) {
  item->last_status = status;
  return status;
}

/* The length word of the options for the renderer (checked above). */
inline WORD ExportOptionsLength(const char* options) {
  return options != nullptr ? static_cast<WORD>(strlen(options)) : WORD{0};
}

/* A chunk on the whole item, made for one export and deleted after it, so
 * that the item's own chunks keep their callbacks and status. Null when
 * it cannot be made. */
class export_chunk {
public:
  explicit export_chunk(VelkoRTItem* item) : chunk_(item->DefineChunk("Everything")) {}
  ~export_chunk() { delete chunk_; }
  export_chunk(const export_chunk&) = delete;
  export_chunk& operator=(const export_chunk&) = delete;
  VelkoRTChunk* get() const { return chunk_; }

private:
  VelkoRTChunk* chunk_;
};

/* One run of GenerateHTMLToMime over the whole item for an export. */
struct export_render {
  int mime_mode = 0;
  const char* generation = nullptr;
  const char* options = nullptr;
  FILE* file = nullptr;
  const char* file_name = nullptr;
  WORD part_number = 0;
  mime_part_memory* part_memory = nullptr;   /* takes the part's text instead of a file */
  char part_name[256] = {};                  /* out: the part file attached, or empty */
  int link_graphic_used[kLinkGraphics] = {}; /* out */
};

/* Runs the rendering through an output buffer of the session; the text
 * left in the buffer is appended to held (when given; it may throw
 * std::bad_alloc). 0, 263, or the rendering's status. */
STATUS RenderItemForExport(VelkoRTItem* item, export_render* run, std::string* held);

/* Renders the item (MIME mode 0) into the file as the generation under
 * the options; fileName (may be null) is handed to the renderer with it.
 * 0; 1028 when the file cannot be written; 259 when the item is not
 * connected; 263; else the render's status. */
STATUS SaveAsHTMLInternal(VelkoRTItem* item, FILE* file, const char* fileName,
                          const char* generation, const char* options);

/* Renders the item for a MIME message and writes the message into the
 * file. Statuses as SaveAsHTMLInternal; nothing is written to the file
 * unless the message was built whole. */
STATUS SaveAsMimeInternal(VelkoRTItem* item, FILE* file, const char* generation,
                          const char* options);

/* The mkstemp pattern of a temporary file in the path's directory: a short
 * name of its own, so that it fits wherever the path's own name fits. */
std::string TemporaryPatternBeside(const std::string& path);

/* Creates a new file of the pattern's name, its trailing "XXXXXX" made
 * unique, with mode 0666: as for a file the caller made, the system takes
 * away what the process's umask forbids. The umask is never read, as that
 * means setting it, and another thread may make a file meanwhile. The
 * open descriptor (the name left in *pattern), or -1 with errno set. */
int CreateUniqueFile(std::string* pattern);

/* A named file written whole or not at all: Open makes a temporary file
 * beside the path; Finish renames it to the path when the status given is
 * 0 and the file was written and closed whole, and otherwise removes it,
 * leaving the path as it was. A file that is never finished is removed.
 * A device or FIFO at the path is not replaced: what was written whole
 * is copied to it. */
class whole_file {
public:
  whole_file() = default;
  ~whole_file();
  whole_file(const whole_file&) = delete;
  whole_file& operator=(const whole_file&) = delete;

  /* 0; 1028 when the file cannot be made (no path, a directory that is
   * missing or cannot be written); 263. */
  STATUS Open(const char* path);
  FILE* file() const { return file_; }
  /* The status given, or 1028 when it was 0 but the file could not be
   * written, closed or renamed. */
  STATUS Finish(STATUS status);

private:
  void Discard();

  std::string path_;
  std::string temporary_;
  FILE* file_ = nullptr;
  bool inPlace_ = false; /* a device or FIFO, copied to when whole */
};

/* Appends the data of the image that starts at the node (the record after
 * a graphic record: its image header, then the data of the segments it
 * counts) to data. False when the records hold no whole image. */
bool AppendImageData(const record_storage* node, std::string* data);

/* Reads the image of the database's image resource of the name into data
 * and its image type (1 GIF, 2 JPEG) into imageType. 0; 263 when memory
 * cannot be had; 1028 when the database holds no such resource or it
 * holds no whole image. */
STATUS ReadImageResource(LSXLsiSession* session, const char* server, const char* databasePath,
                         const char* name, std::string* data, WORD* imageType);

/* Reads the bytes of the note's "$FILE" attachment of the name (the last
 * one of that name when there are several) into data; with detach, the
 * attachment is then taken out of the note. 0, the item-not-found status
 * when there is none, 263, or the host's status. */
STATUS ReadAttachmentData(NOTEHANDLE note, const char* name, bool detach, std::string* data);

/* As ReadAttachmentData, but the bytes are handed to `take` where the host
 * read them: once the attachment is found, take is called once, with its
 * bytes, or with null when they could not be read (the read's status then
 * stands). Its status (0, or 263 when it could not keep them) is the
 * read's otherwise. */
using attachment_bytes_taker = std::function<STATUS(const char* bytes, size_t size)>;
STATUS ReadAttachmentBytes(NOTEHANDLE note, const char* name, bool detach,
                           const attachment_bytes_taker& take);

/* Every distinct id that quoted-printable HTML names after "cid:" once
 * decoded, in order of first use; decoded a block of that many encoded
 * bytes at a time, so that the decoded HTML is never held whole. */
constexpr size_t kContentIDBlock = 64 * 1024;
std::vector<std::string> QuotedPrintableContentIDs(std::string_view encoded,
                                                   size_t block = kContentIDBlock);

/* What the MIME export reads of the encoded HTML as the renderer hands it
 * on: whether every CR of it comes before an LF and every LF after a CR
 * (the line-end filter GMime writes an encoded part through passes such
 * text unchanged); and, for text in which every "=" begins an escape of
 * two upper-case hex digits or a soft break "=\r\n", the ids that
 * QuotedPrintableContentIDs finds, found at the colons without decoding
 * the text (nothing for other text). Read here as the text grows by
 * `piece` bytes at a time. */
struct encoded_html_reading {
  bool crlf_line_ends = false;
  std::optional<std::vector<std::string>> well_formed_ids;
};
encoded_html_reading ReadEncodedHTML(std::string_view encoded, size_t piece = SIZE_MAX);

#endif
