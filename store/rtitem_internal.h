/*
 * The private working state of a rich-text item: its loaded and built
 * bodies, conversion buffers, the note's font faces, style mappings and
 * the default text header.
 */
#ifndef VELKO_STORE_RTITEM_INTERNAL_H
#define VELKO_STORE_RTITEM_INTERNAL_H

#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "velko/velko.h"

struct body_context;
struct chunkdef_info;
struct velko_allocation;

constexpr int kFaceTableSlots = 255;
constexpr int kStandardFaces = 8;

/* One face of the item's face table (the host's CDFACE in host form). */
struct font_face {
  BYTE id;
  BYTE family;
  char name[32];
};

/* Criteria slots of a paragraph style mapping (as MatchParagraph reads a
 * criteria row). */
constexpr int kStyleMappingCriteria = 21;

/* A style bound to a FONTID, and what the renderer needs of a user's
 * mapping: the paragraph criteria a paragraph must meet (flag 0x2), the
 * font filter a text run must pass (flag 0x4), and the markup written
 * around what it maps. */
struct style_mapping {
  DWORD font_id = 0;
  char style_name[128] = {};
  char face_name[32] = {};
  WORD flags = 0; /* STYLE_MAPPING_* */
  /* The paragraph criteria: the wanted definition, the list kinds to be of
   * and not to be of, and which parts are compared (chunk/paragraph_style.h). */
  _CDPABDEFEXT criteria_definition = {};
  DWORD criteria_list_set = 0;
  DWORD criteria_list_clear = 0;
  int criteria[kStyleMappingCriteria] = {};
  /* The font filter: a FONTID and the 7-word mask FontNotFiltered takes
   * (its attribute byte serves as the attributes to find and to avoid). */
  DWORD filter_font = 0;
  DWORD filter_mask[7] = {};
  /* Written around a group of mapped paragraphs (it ends where a list
   * ends), and around each mapped paragraph or run. */
  std::string group_opening;
  std::string group_closing;
  std::string opening;
  std::string closing;
  WORD tab_width = 0; /* blanks per tab in mapped text; above 80 none */
  style_mapping* next = nullptr;
};

enum : WORD {
  STYLE_MAPPING_BY_NAME = 0x0001,
  STYLE_MAPPING_BY_PARAGRAPH = 0x0002,
  STYLE_MAPPING_MAPPED = 0x0004, /* applies to text runs */
  STYLE_MAPPING_INTERNAL = 0x0010,
  STYLE_MAPPING_NO_FONT_MARKUP = 0x0020,
  STYLE_MAPPING_NO_PRESERVED_SPACES = 0x0080,
};

/* The item's state word while the MIME export works on records held only
 * in memory. */
constexpr WORD kItemStateInMemory = 2;

struct _internal_RTITEM {
  chunkdef_info* definitions = nullptr; /* the item's own; owned */
  WORD state = 0;                       /* cleared by every connect */
  DWORD attached = 0;                   /* the note handle is the caller's */
  /* The two conversion buffers (kConversionBufferSize bytes each, tracked),
   * made on first use: A receives converted records, B holds the record
   * being written (store/canonical.h). */
  velko_allocation* conversion[2] = {};
  WORD conversion_held[2] = {};
  body_context* input = nullptr;        /* records loaded for the engine */
  body_context* output = nullptr;       /* body being built by the emitter */
  body_context* html_import[2] = {};
  /* Status of a load that did not complete; a writing action on the body
   * is refused with it, so a truncated body is never written back. */
  STATUS incomplete_load = 0;
  /* Why the last conversion returned null: 263 when the conversion buffers
   * could not be had, else 257. */
  STATUS conversion_status = 0;
  font_face faces[kFaceTableSlots] = {};
  WORD face_count = 0;
  style_mapping* style_mappings[2] = {}; /* list 0 paragraphs, list 1 fonts */
  WORD ForceToWindow = 0;
  /* Default CDTEXT header (signature 0xFF85, length 8, FONTID of face 1,
   * size 10) and a current copy of it. */
  BYTE default_text_header[8] = {};
  BYTE current_text_header[8] = {};
  DWORD design_element = 0;
  DWORD image_data = 0;                 /* the item is "$ImageData" */
  DWORD connect_word = 0;               /* cleared by every connect */
  DWORD pending_paragraph = 0;          /* set by the emitter */
  DWORD ClientPreference = 1;           /* 1 the host's colour names, 0 web names */
  DWORD option_word = 1;
  /* Names of the "$FILE" attachments and OLE objects that records removed
   * from the body referred to; once the body is committed, those that no
   * rich-text item of the note names any more are removed from the note
   * (DetachReleasedAttachments). Cleared by every connect. */
  std::vector<std::string> released_files;
  std::vector<std::string> released_ole_objects;
  /* The item was connected for one copy of its records and is dropped
   * after it (AppendRTChunk's source): the copy may take its loaded
   * records over instead of copying them, leaving it none. */
  bool records_given_up = false;
};

/* The item's SuppressMessages and ClientPreference become its session's
 * GlobalSuppressMessages and global_client_preference (the switches of the
 * last item that set them); no effect without a session. */
void MirrorSuppressMessages(const VelkoRTItem& item);
void MirrorClientPreference(const VelkoRTItem& item);

/* The session's global_client_preference; 1 (the host's colour names)
 * without an item or session. */
WORD ClientPreferenceOf(const VelkoRTItem* item);

#endif
