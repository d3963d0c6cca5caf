/*
 * The rendering options: reading the caller's option string into the
 * rendering context, once at the start of a run, in a fixed order (group A
 * for every generation, group B for HTML and XHTML), with the two preset
 * bundles, the static font face map from the host's settings, and the
 * derived defaults of the directory, graphic and wiki options. Also the
 * exported table of option names.
 *
 * The document-frame options (Preface=, Doctype=, ... Postscript=) are read
 * where the frame is written (render/entry.cpp). Which output each flag
 * changes is the business of the renderer that writes that output.
 */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "host/nsfnote.h"
#include "host/osenv.h"
#include "render/delimited_html.h"
#include "render/output_buffer.h"
#include "render/render_info.h"
#include "store/body.h"
#include "store/charset_names.h"
#include "store/messages.h"
#include "store/note_access.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"
#include "velko/status.h"

extern "C" const generate_html_property GenerateHTML_Properties[48] = {
    {"AddNewlines=", 0, 1, 0},
    {"AddStyleSheetInfo=", 0, 1, 0},
    {"AttachmentDirectory=", 0, 1, 0},
    {"AttachmentGraphic", 0, 1, 0},
    {"AttachmentHandling=", 0, 1, 0},
    {"AttachmentTextInLink=", 0, 1, 0},
    {"AttachmentURLDirectory=", 0, 1, 0},
    {"BrokenLinkGraphic=", 0, 1, 0},
    {"BrokenLinkURL=", 0, 1, 0},
    {"ClosingBody=", 0, 1, 0},
    {"ClosingTag=", 0, 1, 0},
    {"CSSBulletGraphic=", 0, 1, 0},
    {"DBLinkGraphic=", 0, 1, 0},
    {"DoclinkGraphic=", 0, 1, 0},
    {"Doctype=", 0, 1, 0},
    {"ForceParagraphs=", 0, 1, 0},
    {"Generation=", 0, 1, 0},
    {"HeadTag=", 0, 1, 0},
    {"HeadTag=", 0, 1, 0},
    {"ImageDirectory=", 0, 1, 0},
    {"ImageFilePath=", 0, 1, 0},
    {"ImageHandling=", 0, 1, 0},
    {"ImageServer=", 0, 1, 0},
    {"ImageURLDirectory=", 0, 1, 0},
    {"InPlaceAttachmentURLDirectory=", 0, 1, 0},
    {"InPlaceImageURLDirectory=", 0, 1, 0},
    {"LanguageAbbrev=", 0, 1, 0},
    {"LinkURLDirectory=", 0, 1, 0},
    {"OpenDatabaseString=", 0, 1, 0},
    {"OpenDocumentString=", 0, 1, 0},
    {"OpenElementString=", 0, 1, 0},
    {"OpenImageResourceString=", 0, 1, 0},
    {"OpeningBody=", 0, 1, 0},
    {"OpeningTag=", 0, 1, 0},
    {"OpenViewString=", 0, 1, 0},
    {"OutputToEvent=", 0, 1, 0},
    {"Postscript=", 0, 1, 0},
    {"Preface=", 0, 1, 0},
    {"PreserveSpaces=", 0, 1, 1},
    {"PreserveTabs=", 0, 1, 0},
    {"RaiseLinkEvent=", 0, 1, 0},
    {"SectionCloseTag=", 0, 1, 0},
    {"SectionIncludeTitle=", 0, 1, 0},
    {"SectionOpenTag=", 0, 1, 1},
    {"StandardFontTags=", 0, 1, 0},
    {"ViewLinkGraphic=", 0, 1, 1},
    {"WAICompliant=", 0, 1, 0},
    {nullptr, 0, 0, 1},
};

namespace {

using namespace html_flags;
namespace f2 = html_flags2;
namespace f3 = html_flags3;
namespace f4 = html_flags4;
namespace f5 = html_flags5;
namespace fi = html_image_flags;

constexpr WORD kDefaultCharset = 32;
constexpr WORD kDefaultLineLength = 72;
constexpr long kShortestLineLength = 20;
constexpr WORD kQuotedPrintableLineLength = 76;
constexpr DWORD kMimeChunkSize = 8192;
constexpr DWORD kDefaultChunkSize = 32703;
constexpr long kSmallestChunkSize = 80;
constexpr long kLargestChunkSize = 64382;
constexpr WORD kPresetTabBlanks = 3;
constexpr long kMostTabBlanks = 80;
constexpr WORD kDefaultThresholds[kSizeThresholds] = {8, 10, 12, 14, 18, 24};
constexpr size_t kUnidTextLength = 32;
constexpr size_t kEnvironmentValue = 65;
constexpr size_t kStaticFontSettingPart = 32;
constexpr size_t kReplacedFontName = 31;
constexpr WORD kFormItemText = 257;

constexpr const char *kInvalidUnidMessage =
    "UseUNID property pair specifies invalid UNID.  Ignored!";

/* The static font faces, the notes.ini setting that names each one's
 * font, and its generic CSS family. */
struct static_font {
  const char *face;
  const char *setting;
  const char *family;
};
constexpr static_font kStaticFontMap[kStaticFonts] = {
    {"Default Sans Serif", "StaticFont1", "sans-serif"},
    {"Default Serif", "StaticFont0", "serif"},
    {"Default Monospace", "StaticFont4", "monospace"},
    {"Default MultiLingual", "StaticFont2", "sans-serif"},
    {"Default User Interface", nullptr, "sans-serif"},
};

bool Equals(const char *a, const char *b) { return strcasecmp(a, b) == 0; }

/* Removes one trailing slash or backslash. */
void Trim(char *text) {
  const size_t length = strlen(text);
  if (length > 0 && (text[length - 1] == '/' || text[length - 1] == '\\'))
    text[length - 1] = '\0';
}

/* Turns every backslash into a slash. */
void Slash(char *text) {
  for (char *p = text; *p != '\0'; ++p) {
    if (*p == '\\')
      *p = '/';
  }
}

/* Reads option values into the session's first scratch text. */
class option_reader {
public:
  explicit option_reader(html_render_info *context)
      : context_(context), options_(context->options), value(context->session->scratch_first) {}

  /* True when the key is present; its value is then in `value`. */
  bool Read(const char *key) {
    return ExtractProperty(options_, key, value, VELKO_SCRATCH_TEXT_SIZE) != 0;
  }
  bool ReadNonEmpty(const char *key) { return Read(key) && value[0] != '\0'; }

  /* "Yes" sets the bit, "No" clears it. */
  void YesNo(const char *key, DWORD &word, DWORD bit) {
    word = ExtractPropertyDWFlagsBOOL(options_, key, value, VELKO_SCRATCH_TEXT_SIZE, bit, word);
  }
  /* Against the current value: only "Yes" makes false true, only "No"
   * makes true false. */
  void Boolean(const char *key, DWORD &field) {
    field = ExtractPropertyBOOL(options_, key, value, VELKO_SCRATCH_TEXT_SIZE, field) != 0 ? 1 : 0;
  }
  /* The value equal to `word` sets the bit; another value clears it, or,
   * with a second word, only that word clears it. */
  void WordFlag(const char *key, DWORD &flags, DWORD bit, const char *word, const char *second) {
    flags = ExtractPropertyDWFlags(options_, key, value, VELKO_SCRATCH_TEXT_SIZE, bit, flags, word,
                                   second);
  }
  long Number() const { return strtol(value, nullptr, 10); }

  /* A tracked copy of text into *field (which must be empty). */
  STATUS Keep(const char *text, char **field) {
    *field = VelkoAllocatePtrAndCopy(context_->session, VELKO_HERE, text, 0);
    return *field != nullptr ? NOERROR : STATUS{VELKO_ERR_MEMORY};
  }
  /* A tracked copy of the key's value when it is not empty, else null. */
  STATUS KeepValue(const char *key, char **field) {
    if (!ReadNonEmpty(key))
      return NOERROR;
    return Keep(value, field);
  }
  /* A non-empty value, trimmed, kept; else the default (null: none). */
  STATUS KeepTrimmedOr(const char *key, const char *fallback, char **field) {
    if (ReadNonEmpty(key)) {
      Trim(value);
      return Keep(value, field);
    }
    return fallback != nullptr ? Keep(fallback, field) : NOERROR;
  }

private:
  html_render_info *context_;
  const char *options_;

public:
  char *value;
};

/* ---- presets ---- */

void ApplyOstrafinePreset(html_render_info *c) {
  c->flags &= ~StandardFontTags;
  c->flags4 &= ~f4::HybridFontTags;
  c->preserve_tabs = kPresetTabBlanks;
  c->force_font_size = 1;
  c->force_font_face = 1;
  c->flags |= PreserveSpaces | CSSBorders | Fragment | ForceParagraphs | WAICompliant;
  c->flags2 |= f2::MoveStylesInline;
  c->flags3 |= f3::FillEmptyTableCells;
  c->flags4 |= f4::AllowEmptyDivs;
  c->flags5 |= f5::OstrafineSections | f5::OstrafineTabs | f5::SeeAttachedMsgEnabled;
}

void ApplyQuilEditorPreset(html_render_info *c) {
  c->flags &= ~StandardFontTags;
  c->preserve_tabs = kPresetTabBlanks;
  c->force_font_size = 1;
  c->force_font_face = 1;
  c->force_font_color = 1;
  c->flags |= PreserveSpaces | CSSBorders | Fragment | ForceParagraphs;
  c->flags2 |= f2::MoveStylesInline | f2::DoclinksRelative;
  c->flags3 |= f3::FillEmptyTableCells;
  c->flags4 |= f4::AllowEmptyDivs | f4::HybridFontTags;
  c->flags5 |= f5::OstrafineSections | f5::OstrafineTabs | f5::SeeAttachedMsgEnabled;
}

/* ---- group A ---- */

void ReadLineOptions(option_reader &r, html_render_info *c) {
  const bool quoted = (c->encoding_flags & kEncodingQuotedPrintable) != 0;
  c->max_line_length = c->mime_mode != 0 ? kDefaultLineLength : 0;
  if (r.Read("MaxLineLength=")) {
    const long width = r.Number();
    c->max_line_length = width >= kShortestLineLength
                             ? static_cast<WORD>(width > 0xFFFF ? 0xFFFF : width)
                             : kDefaultLineLength;
  }
  if (quoted && c->max_line_length > kQuotedPrintableLineLength)
    c->max_line_length = kQuotedPrintableLineLength;
}

void ReadCharset(option_reader &r, html_render_info *c) {
  c->charset_id = kDefaultCharset;
  if (r.Read("CharsetNum=")) {
    const long number = r.Number();
    c->charset_id = number > 0 && number <= 0xFFFF ? static_cast<WORD>(number) : kDefaultCharset;
    return;
  }
  if (r.Read("Charset="))
    c->charset_id = CSIDFromString(r.value, kDefaultCharset);
}

void ReadNewlines(option_reader &r, html_render_info *c) {
  if (!r.Read("AddNewlines="))
    return;
  // AddNewlinesRestricted= is accepted with it but changes no output.
  DWORD newline = 0;
  if (Equals(r.value, "Yes") || Equals(r.value, "NL"))
    newline = NewlineNUL;
  else if (Equals(r.value, "CRLF"))
    newline = NewlineCRLF;
  if (newline == 0)
    return;
  c->flags |= newline;
  if (c->max_line_length == 0)
    c->max_line_length = kDefaultLineLength;
}

void ReadGroupA(option_reader &r, html_render_info *c) {
  DWORD ostrafine = 0;
  r.Boolean("Ostrafine=", ostrafine);
  if (ostrafine != 0)
    ApplyOstrafinePreset(c);
  else if (r.Read("QuilEditor="))
    ApplyQuilEditorPreset(c);
  else
    c->flags2 |= f2::EncapsulateTable;

  r.WordFlag("Generation=", c->flags, Fragment, "Fragment", nullptr);
  if ((c->flags & Fragment) != 0)
    c->flags2 |= f2::MoveStylesInline;
  r.YesNo("Translation=", c->flags, Translation);
  r.YesNo("MakeURLHotspots=", c->flags, MakeURLHotspots);
  r.WordFlag("ContentTransferEncoding=", c->encoding_flags, kEncodingQuotedPrintable,
             "quoted-printable", nullptr);
  c->curly_open = "";
  c->curly_close = "";
  if (r.Read("UseCurlyBracesInline=") && Equals(r.value, "YES")) {
    c->curly_open = "{";
    c->curly_close = "}";
  }
  ReadLineOptions(r, c);
  r.Boolean("NewlineOnParagraph=", c->newline_on_paragraph);
  ReadCharset(r, c);
  r.YesNo("ForceParagraphs=", c->flags, ForceParagraphs);
  ReadNewlines(r, c);

  const bool quoted = (c->encoding_flags & kEncodingQuotedPrintable) != 0;
  if (c->mime_mode != 0 || quoted) {
    c->flags &= ~NewlineNUL;
    c->flags |= NewlineCRLF;
  }
}

/* ---- group B ---- */

void ReadOutputToEvent(option_reader &r, html_render_info *c) {
  const bool present = r.Read("OutputToEvent=");
  if (present) {
    if (Equals(r.value, "Yes")) {
      c->event_chunk_size = kMimeChunkSize;
      c->flags |= OutputToEvent;
    } else if (Equals(r.value, "No")) {
      c->event_chunk_size = 0;
    } else {
      long size = r.Number();
      if (size < 0)
        size = 0;
      if (size > 0 && size < kSmallestChunkSize)
        size = kSmallestChunkSize;
      if (size > kLargestChunkSize)
        size = kLargestChunkSize;
      c->event_chunk_size = static_cast<DWORD>(size);
      c->flags |= OutputToEvent;
    }
    r.YesNo("OutputAllToEvent=", c->flags3, f3::OutputAllToEvent);
  }
  if (c->event_chunk_size == 0 && !present)
    c->event_chunk_size = c->mime_mode != 0 ? kMimeChunkSize : kDefaultChunkSize;
}

STATUS ReadTabbedTableColours(option_reader &r, html_render_info *c) {
  if ((c->flags2 & f2::TabbedTablesInCSS) == 0)
    return NOERROR;
  struct {
    const char *key;
    char **field;
  } const colours[] = {
      {"CSSTabNoSelBackgroundColor=", &c->css_tab_nosel_background},
      {"CSSTabNoSelTextColor=", &c->css_tab_nosel_text},
      {"CSSTabSelBackgroundColor=", &c->css_tab_sel_background},
      {"CSSTabSelTextColor=", &c->css_tab_sel_text},
  };
  for (const auto &colour : colours) {
    if (STATUS status = r.KeepValue(colour.key, colour.field); status != NOERROR)
      return status;
  }
  return NOERROR;
}

STATUS ReadDoclinkText(option_reader &r, html_render_info *c) {
  if (!r.Read("DoclinkText="))
    return r.Keep("Link", &c->doclink_text);
  return r.value[0] != '\0' ? r.Keep(r.value, &c->doclink_text) : NOERROR;
}

void ReadAutoTagAndClass(option_reader &r, html_render_info *c) {
  if (r.Read("AutoTag=")) {
    if (stristr(r.value, "All") != nullptr) {
      c->flags4 |= f4::AutoTagTable | f4::AutoTagRow | f4::AutoTagCell;
    } else {
      if (stristr(r.value, "Table") != nullptr)
        c->flags4 |= f4::AutoTagTable;
      if (stristr(r.value, "Row") != nullptr)
        c->flags4 |= f4::AutoTagRow;
      if (stristr(r.value, "Cell") != nullptr)
        c->flags4 |= f4::AutoTagCell;
    }
  }
  if (r.Read("AutoClass=")) {
    if (stristr(r.value, "All") != nullptr) {
      c->flags4 |= f4::AutoClassTable | f4::AutoClassRow | f4::AutoClassColumn;
    } else {
      if (stristr(r.value, "Table") != nullptr)
        c->flags4 |= f4::AutoClassTable;
      if (stristr(r.value, "Row") != nullptr)
        c->flags4 |= f4::AutoClassRow;
      if (stristr(r.value, "Column") != nullptr)
        c->flags4 |= f4::AutoClassColumn;
      if (stristr(r.value, "Section") != nullptr)
        c->flags4 |= f4::AutoClassSection;
    }
  }
}

void ReadPreserveTabs(option_reader &r, html_render_info *c) {
  if (!r.Read("PreserveTabs="))
    return;
  if (Equals(r.value, "Yes")) {
    c->preserve_tabs = kPresetTabBlanks;
  } else if (Equals(r.value, "No")) {
    c->preserve_tabs = 0;
  } else {
    const long blanks = r.Number();
    c->preserve_tabs = static_cast<WORD>(blanks < 0                ? 0
                                         : blanks > kMostTabBlanks ? kMostTabBlanks
                                                                   : blanks);
  }
}

void ReadLinkEvents(option_reader &r, html_render_info *c) {
  if (!r.Read("RaiseLinkEvent="))
    return;
  const bool all = strncasecmp(r.value, "All", 3) == 0;
  if (all || strncasecmp(r.value, "Doc", 3) == 0)
    c->flags |= RaiseDocLinkEvent;
  if (all || strncasecmp(r.value, "URL", 3) == 0)
    c->flags |= RaiseURLLinkEvent;
}

void ReadSuppressFonts(option_reader &r, html_render_info *c) {
  if (!r.Read("SuppressFonts="))
    return;
  if (Equals(r.value, "all")) {
    c->flags3 |=
        f3::SuppressFontFace | f3::SuppressFontAttr | f3::SuppressFontColor | f3::SuppressFontSize;
    return;
  }
  if (stristr(r.value, "face") != nullptr)
    c->flags3 |= f3::SuppressFontFace;
  if (stristr(r.value, "attr") != nullptr)
    c->flags3 |= f3::SuppressFontAttr;
  if (stristr(r.value, "color") != nullptr || stristr(r.value, "colour") != nullptr)
    c->flags3 |= f3::SuppressFontColor;
  if (stristr(r.value, "size") != nullptr)
    c->flags3 |= f3::SuppressFontSize;
}

void ReadSparseTable(option_reader &r, html_render_info *c) {
  if (r.Read("SparseTable=") && Equals(r.value, "Width")) {
    c->flags4 |= f4::SparseTable | f4::SparseTableWidth;
    return;
  }
  r.YesNo("SparseTable=", c->flags4, f4::SparseTable);
}

void ReadFontSizes(option_reader &r, html_render_info *c) {
  static const char *const kKeys[kSizeThresholds] = {
      "Font1=", "Font2=", "Font3=", "Font4=", "Font5=", "Font6="};
  for (int i = 0; i < kSizeThresholds; ++i) {
    if (!r.Read(kKeys[i]))
      continue;
    const long size = r.Number();
    const long largest = i == kSizeThresholds - 1 ? 72 : 71;
    if (size >= 1 && size <= largest)
      c->size_thresholds[i] = static_cast<WORD>(size);
  }
}

void CopyCut(char *out, size_t outSize, const char *text, size_t most) {
  const size_t length = strnlen(text, most);
  const size_t used = length < outSize ? length : outSize - 1;
  memcpy(out, text, used);
  out[used] = '\0';
}

/* The five static faces and the font-family texts written for them. */
void ReadStaticFontMap(option_reader &r, html_render_info *c) {
  for (int i = 0; i < kStaticFonts; ++i) {
    const static_font &font = kStaticFontMap[i];
    CopyCut(c->font_map_faces[i], kStaticFontFaceSize, font.face, kStaticFontFaceSize - 1);
    char setting[kEnvironmentValue] = {};
    if (font.setting != nullptr)
      OSGetEnvironmentString(font.setting, setting, sizeof setting);
    if (char *bar = strchr(setting, '|'))
      *bar = '\0';
    setting[kStaticFontSettingPart] = '\0';
    char *out = c->font_map_substitutes[i];
    if (setting[0] != '\0')
      snprintf(out, kStaticFontSubstituteSize, "%.32s,%s", setting, font.family);
    else
      snprintf(out, kStaticFontSubstituteSize, "%s", font.family);
  }
  static const char *const kFaceKeys[kStaticFonts] = {
      "InitialFont1=", "InitialFont2=", "InitialFont3=", "InitialFont4=", "InitialFont5="};
  static const char *const kSubstituteKeys[kStaticFonts] = {
      "SubstituteFont1=", "SubstituteFont2=", "SubstituteFont3=", "SubstituteFont4=",
      "SubstituteFont5="};
  for (int i = 0; i < kStaticFonts; ++i) {
    if (r.Read(kFaceKeys[i]))
      CopyCut(c->font_map_faces[i], kStaticFontFaceSize, r.value, kReplacedFontName);
    if (r.Read(kSubstituteKeys[i]))
      CopyCut(c->font_map_substitutes[i], kStaticFontSubstituteSize, r.value, kReplacedFontName);
  }
}

void ReadAutoTHFont(option_reader &r, html_render_info *c) {
  if (!r.ReadNonEmpty("AutoTHFont="))
    return;
  font_spec specs[2] = {};
  font_spec_mask masks[2] = {};
  if (ParseFontString("", r.value, c->item, specs, masks) != NOERROR)
    return;
  c->auto_th_font = specs[1];
  c->auto_th_font_mask = masks[1];
  c->auto_th_font_set = 1;
}

WORD HandlingOf(char *value, const char *third) {
  for (char *p = value; *p != '\0'; ++p)
    *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
  if (strstr(value, "IGNORE") != nullptr)
    return kHandlingIgnore;
  if (strstr(value, "DISK") != nullptr)
    return kHandlingDisk;
  if (strstr(value, third) != nullptr)
    return kHandlingResource;
  return kHandlingDefault;
}

void ReadImageDatabase(option_reader &r, html_render_info *c) {
  if (c->image_handling != kHandlingResource)
    return;
  char server[VELKO_SCRATCH_TEXT_SIZE] = {};
  char path[VELKO_SCRATCH_TEXT_SIZE] = {};
  if (r.Read("ImageServer="))
    strcpy(server, r.value);
  if (r.Read("ImageFilePath="))
    strcpy(path, r.value);
  c->image_db = c->item != nullptr ? c->item->db : NULLHANDLE;
  if (path[0] == '\0') {
    c->flags |= ImageDbIsItemDb;
    return;
  }
  DBHANDLE db = NULLHANDLE;
  if (OpenDB(c->session, server, path, &db) == NOERROR && db != NULLHANDLE) {
    c->image_db = db;
    c->image_db_owned = 1;
  } else if (c->chunk != nullptr) {
    c->chunk->secondary_status = VELKO_ERR_INVALID_ARGUMENT;
  }
}

STATUS ReadImageOptions(option_reader &r, html_render_info *c) {
  if (r.Read("AttachmentHandling="))
    c->attachment_handling = HandlingOf(r.value, "NAME");
  if (r.Read("ImageHandling="))
    c->image_handling = HandlingOf(r.value, "RESOURCE");
  if (c->image_handling == kHandlingDisk || c->image_handling == kHandlingResource) {
    r.WordFlag("ImageOverwrite=", c->image_flags, fi::NoImageOverwrite, "No", "Yes");
    r.YesNo("ImageUseName=", c->image_flags, fi::ImageUseName);
    c->image_flags |= fi::ImageResourceToDisk;
    r.YesNo("ImageResourceToDisk=", c->image_flags, fi::ImageResourceToDisk);
    r.YesNo("ImageUNIDAsFolder=", c->image_flags, fi::ImageUNIDAsFolder);
  }
  if ((c->local_symbols != 0 || c->image_handling == kHandlingDisk) && r.Read("ImageDirectory=")) {
    Trim(r.value);
    if (r.value[0] != '\0') {
      if (STATUS status = r.Keep(r.value, &c->image_directory); status != NOERROR)
        return status;
    }
  }
  ReadImageDatabase(r, c);
  if (r.Read("DefaultSubdirectory=")) {
    Trim(r.value);
    return r.Keep(r.value, &c->default_subdirectory);
  }
  return NOERROR;
}

void ReadUseUnid(option_reader &r, html_render_info *c) {
  if (!r.Read("UseUNID="))
    return;
  if (strlen(r.value) != kUnidTextLength) {
    ShowUserMessage(kInvalidUnidMessage);
    return;
  }
  c->unid = ParseUniversalNoteID(r.value);
  c->use_unid = 1;
}

/* The five URL directories, defaulting to DefaultURLDirectory=. */
STATUS ReadURLDirectories(option_reader &r, html_render_info *c) {
  char fallback[VELKO_SCRATCH_TEXT_SIZE] = {};
  const bool hasDefault = r.Read("DefaultURLDirectory=");
  if (hasDefault) {
    Trim(r.value);
    Slash(r.value);
    strcpy(fallback, r.value);
  }

  // ImageURLDirectory=: always kept, even empty.
  if (r.ReadNonEmpty("ImageURLDirectory=")) {
    Trim(r.value);
  } else {
    strcpy(r.value, fallback);
  }
  Slash(r.value);
  if (STATUS status = r.Keep(r.value, &c->image_url_directory); status != NOERROR)
    return status;

  // InPlaceImageURLDirectory=: "*NONE*" is an empty directory, an empty
  // result none.
  bool keepInPlace = true;
  if (r.ReadNonEmpty("InPlaceImageURLDirectory=")) {
    if (strcmp(r.value, "*NONE*") == 0) {
      r.value[0] = '\0';
    } else {
      Trim(r.value);
      keepInPlace = r.value[0] != '\0';
    }
  } else {
    strcpy(r.value, fallback);
    keepInPlace = r.value[0] != '\0';
  }
  if (keepInPlace) {
    Slash(r.value);
    if (STATUS status = r.Keep(r.value, &c->inplace_image_url_directory); status != NOERROR)
      return status;
  }

  if (c->attachment_handling == kHandlingDisk) {
    if (r.ReadNonEmpty("AttachmentDirectory=")) {
      Trim(r.value);
    } else {
      const char *temp_directory = c->session->internal->temp_directory;
      strcpy(r.value, temp_directory[0] != '\0' ? temp_directory : "/tmp/");
      Trim(r.value);
    }
    if (STATUS status = r.Keep(r.value, &c->attachment_directory); status != NOERROR)
      return status;
  }

  // AttachmentURLDirectory=: a present empty value stays empty (none).
  if (r.Read("AttachmentURLDirectory="))
    Trim(r.value);
  else
    strcpy(r.value, fallback);
  Slash(r.value);
  if (r.value[0] != '\0') {
    if (STATUS status = r.Keep(r.value, &c->attachment_url_directory); status != NOERROR)
      return status;
  }

  if (r.Read("InPlaceAttachmentURLDirectory="))
    Trim(r.value);
  else
    strcpy(r.value, fallback);
  Slash(r.value);
  if (r.value[0] != '\0') {
    if (STATUS status = r.Keep(r.value, &c->inplace_attachment_url_directory); status != NOERROR)
      return status;
  }

  // LinkURLDirectory=: always kept.
  if (r.Read("LinkURLDirectory="))
    Trim(r.value);
  else
    strcpy(r.value, c->mime_mode != 0 ? "notes://" : hasDefault ? fallback : "/");
  Slash(r.value);
  return r.Keep(r.value, &c->link_url_directory);
}

void ReadDelimitedHTML(option_reader &r, html_render_info *c, STATUS *status) {
  r.YesNo("MarkDelimitedHTML=", c->flags3, f3::MarkDelimitedHTML);
  if ((c->flags3 & f3::MarkDelimitedHTML) == 0)
    return;
  *status = r.KeepValue("DelimitedHTMLStart=", &c->delimited_html_start);
  if (*status == NOERROR)
    *status = r.KeepValue("DelimitedHTMLEnd=", &c->delimited_html_end);
  if (*status == NOERROR && c->item != nullptr && c->item->internal != nullptr &&
      c->item->internal->input != nullptr && c->item->internal->input->records != nullptr)
    *status = MarkDelimitedHTML(c->session, c->item->internal->input, c->delimited_html_start,
                                c->delimited_html_end);
  VelkoDeallocatePtr(c->session, c->delimited_html_start);
  VelkoDeallocatePtr(c->session, c->delimited_html_end);
  c->delimited_html_start = nullptr;
  c->delimited_html_end = nullptr;
}

STATUS ReadLinkGraphics(option_reader &r, html_render_info *c) {
  struct graphic {
    const char *key;
    const char *local;
    const char *cid;
    char **field;
  } const graphics[kLinkGraphics] = {
      {"DBLinkGraphic=", "dblink.gif", "cid:_a_dblink", &c->dblink_graphic},
      {"ViewLinkGraphic=", "viewlink.gif", "cid:_a_viewlink", &c->viewlink_graphic},
      {"DoclinkGraphic=", "doclink.gif", "cid:_a_doclink", &c->doclink_graphic},
      {"AnchorLinkGraphic=", "textlink.gif", "cid:_an_anchorlink", &c->anchorlink_graphic},
  };
  const bool cid = c->mime_mode != 0 && (c->flags2 & f2::InlineCidGraphics) != 0;
  for (const graphic &g : graphics) {
    STATUS status = c->local_symbols != 0 ? r.Keep(g.local, g.field)
                                          : r.KeepTrimmedOr(g.key, cid ? g.cid : nullptr, g.field);
    if (status != NOERROR)
      return status;
  }
  struct {
    const char *key;
    const char *cid;
    char **field;
  } const others[] = {
      {"BrokenLinkGraphic=", nullptr, &c->broken_link_graphic},
      {"BrokenLinkURL=", nullptr, &c->broken_link_url},
      {"CollapseGraphic=", "cid:_a_collapse", &c->collapse_graphic},
      {"ExpandGraphic=", nullptr, &c->expand_graphic},
      {"TabGraphic=", "cid:_a_tabletab", &c->tab_graphic},
  };
  for (const auto &other : others) {
    if (STATUS status = r.KeepTrimmedOr(other.key, cid ? other.cid : nullptr, other.field);
        status != NOERROR)
      return status;
  }
  return NOERROR;
}

/* The wiki link prefix built from the database path and the form:
 * "<path>/<form>?OpenForm" with UseJavaScript=, else the agent URL. */
STATUS BuildResolveWiki(option_reader &r, html_render_info *c) {
  const char *database =
      c->item != nullptr && c->item->database != nullptr ? c->item->database : "";
  char rooted[VELKO_SCRATCH_TEXT_SIZE];
  snprintf(rooted, sizeof rooted, "/%s", database);
  char dataDirectory[MAXPATH] = {};
  const size_t dataLength = OSGetDataDirectory(dataDirectory);
  const char *path = rooted;
  if (dataLength > 0 && strncasecmp(rooted, dataDirectory, dataLength) == 0)
    path = rooted + dataLength;
  else if (dataLength > 0 && strncasecmp(database, dataDirectory, dataLength) == 0)
    path = database + dataLength;
  char slashed[VELKO_SCRATCH_TEXT_SIZE];
  snprintf(slashed, sizeof slashed, "%s", path);
  Slash(slashed);

  char form[VELKO_SCRATCH_TEXT_SIZE] = {};
  if (r.ReadNonEmpty("Form="))
    strcpy(form, r.value);
  else if (c->item == nullptr || c->item->note == NULLHANDLE ||
           NSFItemGetText(c->item->note, "Form", form, kFormItemText) == 0)
    strcpy(form, "Document");
  for (char *p = form; *p != '\0'; ++p) {
    if (*p == '\\')
      *p = '/';
    else if (*p == ' ')
      *p = '+';
  }
  const bool script = r.Read("UseJavaScript=") && !Equals(r.value, "no");

  // Path and form reach an attribute: both are escaped as URL text.
  render_text wiki{c->session};
  RenderTextPutEscaped(&wiki, kEscapeURL, slashed, strlen(slashed));
  if (script) {
    RenderTextPutc(&wiki, '/');
    RenderTextPutEscaped(&wiki, kEscapeURL, form, strlen(form));
    RenderTextPuts(&wiki, "?OpenForm");
  } else {
    RenderTextPuts(&wiki, "/ResolveWikiLink?OpenAgent&amp;Form=");
    RenderTextPutEscaped(&wiki, kEscapeURL, form, strlen(form));
    RenderTextPuts(&wiki, "&amp;WikiText=");
  }
  c->resolve_wiki = RenderTextDetach(&wiki);
  return c->resolve_wiki != nullptr ? NOERROR : STATUS{VELKO_ERR_MEMORY};
}

STATUS ReadTrackedTexts(option_reader &r, html_render_info *c) {
  struct {
    const char *key;
    char **field;
  } const texts[] = {
      {"AttachmentGraphic=", &c->attachment_graphic},
      {"CSSBulletGraphic=", &c->css_bullet_graphic},
      {"CSSCircleBulletGraphic=", &c->css_circle_bullet_graphic},
      {"CSSSquareBulletGraphic=", &c->css_square_bullet_graphic},
      {"CSSCheckBulletGraphic=", &c->css_check_bullet_graphic},
  };
  for (const auto &text : texts) {
    if (STATUS status = r.KeepValue(text.key, text.field); status != NOERROR)
      return status;
  }
  return NOERROR;
}

STATUS ReadOpenStrings(option_reader &r, html_render_info *c) {
  if (STATUS status = r.KeepValue("ResolveWiki=", &c->resolve_wiki); status != NOERROR)
    return status;
  if (c->resolve_wiki == nullptr) {
    if (STATUS status = BuildResolveWiki(r, c); status != NOERROR)
      return status;
  }
  struct {
    const char *key;
    char **field;
  } const texts[] = {
      {"OpenDatabaseString=", &c->open_database_string},
      {"OpenViewString=", &c->open_view_string},
      {"OpenDocumentString=", &c->open_document_string},
      {"OpenImageResourceString=", &c->open_image_resource_string},
      {"OpenElementString=", &c->open_element_string},
      {"BlankAltString=", &c->blank_alt_string},
      {"FileNamesFld=", &c->file_names_field},
  };
  for (const auto &text : texts) {
    if (STATUS status = r.KeepValue(text.key, text.field); status != NOERROR)
      return status;
  }
  return NOERROR;
}

/* Paragraph, table, font and section switches, in their reading order. */
void ReadLayoutSwitches(option_reader &r, html_render_info *c) {
  r.YesNo("UsePTags=", c->flags4, f4::UsePTags);
  c->flags4 |= f4::AllowEmptyDivs;
  r.YesNo("AllowEmptyDivs=", c->flags4, f4::AllowEmptyDivs);
  c->flags4 &= ~f4::RelativeIndents;
  r.YesNo("RelativeIndents=", c->flags4, f4::RelativeIndents);
  r.YesNo("SectionsInCSS=", c->flags2, f2::SectionsInCSS);
  r.YesNo("ImageRelativeToPage=", c->flags2, f2::ImageRelativeToPage);
  r.YesNo("DoclinksRelative=", c->flags2, f2::DoclinksRelative);
  r.Boolean("LocalDominoSymbols=", c->local_symbols);
  r.YesNo("FillEmptyTableCells=", c->flags3, f3::FillEmptyTableCells);
  r.YesNo("UseXMLEntities=", c->flags3, f3::UseXMLEntities);
  r.YesNo("EncapsulateTable=", c->flags2, f2::EncapsulateTable);
  r.YesNo("RespectHiddenFormulas=", c->flags2, f2::RespectHiddenFormulas);
  if ((c->flags2 & f2::RespectHiddenFormulas) != 0) {
    r.YesNo("PreviewMode=", c->flags3, f3::PreviewMode);
    r.YesNo("WebMode=", c->flags3, f3::WebMode);
  }
  ReadPreserveTabs(r, c);
  ReadLinkEvents(r, c);
  memcpy(c->size_thresholds, kDefaultThresholds, sizeof kDefaultThresholds);
  ReadSuppressFonts(r, c);
  r.YesNo("SuppressImages=", c->flags3, f3::SuppressImages);
  r.YesNo("SuppressAttachments=", c->flags3, f3::SuppressAttachments);
  r.YesNo("SuppressLinks=", c->flags3, f3::SuppressLinks);
  r.YesNo("SuppressDivInfo=", c->flags4, f4::SuppressDivInfo);
  ReadSparseTable(r, c);
  r.YesNo("HybridFontTags=", c->flags4, f4::HybridFontTags);
  r.YesNo("StandardFontTags=", c->flags, StandardFontTags);
  if ((c->flags & StandardFontTags) != 0)
    ReadFontSizes(r, c);
  else
    r.YesNo("CSSBorders=", c->flags, CSSBorders);
  r.Boolean("ForceFontSize=", c->force_font_size);
  r.Boolean("ForceFontFace=", c->force_font_face);
  r.Boolean("ForceFontColor=", c->force_font_color);
  r.Boolean("ForceDirection=", c->force_direction);
  ReadStaticFontMap(r, c);
  r.YesNo("SupportRico=", c->flags5, f5::SupportRico);
  r.YesNo("SupportDojo=", c->flags5, f5::SupportDojo);
  r.YesNo("OpenFormData=", c->flags5, f5::OpenFormData);
  r.YesNo("OstrafineSections=", c->flags5, f5::OstrafineSections);
  r.YesNo("OstrafineTabs=", c->flags5, f5::OstrafineTabs);
}

STATUS ReadGroupB(option_reader &r, html_render_info *c) {
  ReadOutputToEvent(r, c);
  if (r.Read("BasePathname="))
    CopyCut(c->base_pathname, sizeof c->base_pathname, r.value, sizeof c->base_pathname - 1);
  r.YesNo("ConsolidatePABIDS=", c->flags2, f2::ConsolidatePABIDS);
  r.YesNo("PreserveSpaces=", c->flags, PreserveSpaces);
  r.YesNo("WAICompliant=", c->flags, WAICompliant);
  r.YesNo("MoveStylesInline=", c->flags2, f2::MoveStylesInline);
  r.YesNo("TabbedTablesInCSS=", c->flags2, f2::TabbedTablesInCSS);
  r.WordFlag("ExtendedSpecialCharacters=", c->flags2, f2::NoExtendedSpecialCharacters, "No", "Yes");
  if (STATUS status = ReadTabbedTableColours(r, c); status != NOERROR)
    return status;
  if (STATUS status = ReadDoclinkText(r, c); status != NOERROR)
    return status;
  ReadAutoTagAndClass(r, c);
  ReadLayoutSwitches(r, c);
  if ((c->flags5 & f5::SeeAttachedMsgEnabled) != 0) {
    if (STATUS status = r.KeepValue("SeeAttachedMsg=", &c->see_attached_msg); status != NOERROR)
      return status;
  }
  ReadAutoTHFont(r, c);
  if (STATUS status = ReadImageOptions(r, c); status != NOERROR)
    return status;
  ReadUseUnid(r, c);
  if (STATUS status = ReadURLDirectories(r, c); status != NOERROR)
    return status;
  r.YesNo("AutoQuoteHTMLParams=", c->flags3, f3::AutoQuoteHTMLParams);
  STATUS status = NOERROR;
  ReadDelimitedHTML(r, c, &status);
  if (status != NOERROR)
    return status;
  c->attachment_text_in_link = 1;
  r.Boolean("AttachmentTextInLink=", c->attachment_text_in_link);
  if (STATUS failed = ReadTrackedTexts(r, c); failed != NOERROR)
    return failed;
  if (STATUS failed = ReadLinkGraphics(r, c); failed != NOERROR)
    return failed;
  return ReadOpenStrings(r, c);
}

} // namespace

STATUS ReadRenderingOptions(html_render_info *context) {
  option_reader reader(context);
  ReadGroupA(reader, context);
  if (context->generation == kGenerationText) {
    context->event_chunk_size = context->mime_mode != 0 ? kMimeChunkSize : kDefaultChunkSize;
    return NOERROR;
  }
  return ReadGroupB(reader, context);
}
