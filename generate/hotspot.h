/*
 * Generators of images by reference, hotspots and image maps: the records
 * of an image resource reference (as a graphic or as a background), of a
 * storage link, of a hotspot, button or embedded control, of a file
 * attached to the note and shown as an icon, and of one area of an image
 * map, each built from a property string and handed to the record emitter
 * in order. Every generator returns the first failing status of a record it
 * writes (the later records are then left out) or 0.
 *
 * Records are built in host form in buffers sized from the texts they carry;
 * a record that would pass the emitter's 64382 bytes or a 16-bit length
 * field is refused with 1028 before it is built.
 *
 * Not here: choosing when an action calls a generator (the chunk engine), and
 * the emitter's checks of the sequence (store/emitter.h).
 */
#ifndef VELKO_GENERATE_HOTSPOT_H
#define VELKO_GENERATE_HOTSPOT_H

#include "generate/font_string.h"
#include "host/cdrecords.h"
#include "store/emitter.h"
#include "velko/velko.h"

struct record_storage;

/* What the generators use of an operation's state. */
struct hotspot_state {
  generation_context* gen = nullptr; /* the emitter's context; its item gives the note */
  /* The operation's font override for label texts (null: none). */
  const font_spec* label_font = nullptr;
  const font_spec_mask* label_font_mask = nullptr;
  /* The chunk's secondary status, set to 20014 by a failed file import when
   * still 0 (null: not kept). */
  WORD* secondary_status = nullptr;
  /* The walk's current record (null: none) and its skip mark: records
   * numbered up to the mark are dropped by the walk. */
  record_storage* current = nullptr;
  DWORD* skip_mark = nullptr;
};

/* The hotspot data (a compiled formula, a script, a subform or control
 * name) lies in the session's result text behind this many free bytes; its
 * length is the session's result_length. */
constexpr DWORD kHotspotDataOffset = 16;

/* Hotspot kinds. */
enum : WORD {
  kHotspotPopup = 1,
  kHotspotAction = 2,
  kHotspotButton = 3,
  kHotspotFile = 4,
  kHotspotSubform = 14,
  kHotspotEmbeddedNamed = 19,
  kHotspotMouseOver = 22,
  kHotspotFileUpload = 24,
  kHotspotEmbeddedLinked = 34,
};

/* Code flags of a hotspot. */
enum : DWORD {
  kHotspotCodeFormula = 0x10,
  kHotspotCodeLotusScript = 0x100,
  kHotspotCodeComputedText = 0x40000,
  kHotspotCodeJavaScript = 0x200000,
};

/* The session's code kind of an image-map area whose data is a formula. */
constexpr DWORD kAreaCodeFormula = 1;

/* The largest coordinate tail ParseCoords writes: a count and 100 points. */
constexpr DWORD kMaxPolygonPoints = 100;
constexpr DWORD kCoordinateBytes = 2 + 8 * kMaxPolygonPoints;

/* The built-in file icon: a 23 x 32 GIF89a. */
constexpr DWORD kFileIconSize = 180;
constexpr WORD kFileIconWidth = 23;
constexpr WORD kFileIconHeight = 32;
extern const BYTE FileIconGif[kFileIconSize];

/* The resource class of images. */
constexpr WORD kImageResourceClass = 19;

/* An image resource of class 19 referred to by name (a "?" or else "!" in
 * the name ends the part used), as a graphic with its caption, alternate
 * text, border, wrapping and HTML attributes, or as a background
 * (asBackground non-zero). Width, height and the five texts are optional
 * (0 or null). 1028 for another class, a missing name or state. */
STATUS GenerateResource(WORD type, WORD resourceClass, const char* name, const char* properties,
                        DWORD asBackground, hotspot_state* state, WORD width, WORD height,
                        const char* altText, const char* align, const char* hspace,
                        const char* vspace, const char* border);

/* An image stored outside the rich text, named by the reference; kind 2 a
 * URL, otherwise a file object of the note. */
STATUS GenerateStorageLink(WORD kind, const char* reference, const char* properties,
                           hotspot_state* state);

/* A CDALTTEXT holding the text (LMBCS); nothing for a null or empty text. */
STATUS EmitAltText(const char* text, generation_context* gen);

/* A hotspot of the kind with the hotspot data of the session, the label
 * (labelLength bytes) and the properties; codeFlags are the session's code
 * flags. The reserved word is not read. */
STATUS GenerateHotspot(WORD kind, DWORD codeFlags, const char* label, WORD labelLength,
                       const char* properties, WORD reserved, hotspot_state* state);

/* A file attached to the note (unless "AlreadyAttached=Yes") under the
 * attachment name and shown by the built-in icon and " - " with the display
 * name (by default the path's part after its last '/'). */
STATUS GenerateFileHotspot(const char* filePath, const char* attachmentName,
                           const char* displayName, WORD reserved, const char* properties,
                           hotspot_state* state);

/* One area of an image map around the current record: joins the map the
 * current record closes, copies forward a map that follows it, or opens a
 * new one. The shape text names the shape and holds its coordinates. Kind,
 * flags and the reserved word are not read. */
STATUS GenerateImageHotspot(WORD kind, DWORD codeFlags, const char* shape, const char* properties,
                            WORD reserved, hotspot_state* state);

/* The coordinates of the shape text into out (kCoordinateBytes of room):
 * a polygon ("poly" anywhere) as a count and NumPoints= pairs x<n>=, y<n>=,
 * else a box left, top, right, bottom. The bytes written; 0 for a polygon
 * without 1 to 100 points. Property values pass through the session's
 * first scratch text. */
DWORD ParseCoords(LSXLsiSession* session, const char* shape, BYTE* out);

#endif
