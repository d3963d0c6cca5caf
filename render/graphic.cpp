/*
 * The image renderer: ProcessXMLGraphic turns one image of the rendered
 * chunk (its CDGRAPHIC and the records that describe it) into an img
 * element. It decides where the picture comes from (a src= of the extra
 * attributes, a named image resource, a storage link, or the image bytes
 * of the rich text), writes the picture as a file or an image resource
 * when the options ask for it (through the export layer,
 * render/services.h), builds the reference for a web server, a file system
 * or a MIME message, and adds the size, identity, alternative text,
 * border, spacing and alignment attributes.
 *
 * File names taken from the document keep only their last path element;
 * an empty name, ".", ".." or one with control bytes writes no file. Paths
 * are joined with exactly one "/". A file goes under the name the run
 * gives it (render/run_files.h), which the reference names.
 *
 * An image whose data is not whole (its header counts segments it does
 * not hold, or a bitmap without GIF or JPEG data) gets no file, no image
 * resource and, in a MIME message, no content id that no part would
 * carry: its element stays, and the rest of the document renders. So does
 * a named image resource written to disk that the database does not hold
 * or that holds no whole image. A file that cannot be written fails the
 * render.
 *
 * An image inside a hotspot that showed an attachment is its icon: the
 * presets' see-attached message replaces it, and SuppressImages= spares it.
 *
 * Not here: the hotspots around images, and the MIME parts that carry
 * them (which take the same content id, ImageContentID).
 */
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <string_view>

#include "engine/record_fields.h"
#include "host/nls.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/oslog.h"
#include "host/osenv.h"
#include "render/formulas.h"
#include "render/graphic.h"
#include "render/identity.h"
#include "render/output_buffer.h"
#include "render/paragraphs.h"
#include "render/run_files.h"
#include "render/family_renderers.h"
#include "render/services.h"
#include "render/text_render.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

namespace fi = html_image_flags;

constexpr WORD kBitmapTransparency = 0xFF87;
constexpr WORD kImageTypeJpeg = 2;
constexpr WORD kResourceNamedElement = 3;
constexpr WORD kResourceImageClass = 0x13;
constexpr DWORD kResourceFormula = 0x0001;
/* Behind a CDRESOURCE's host fixed part: the hints, the database
 * reference (8 bytes), then the name. */
constexpr DWORD kResourceTexts = sizeof(CDRESOURCE);
constexpr DWORD kResourceReference = 8;
/* Longest name or path taken from the document. */
constexpr size_t kLongestName = 255;
constexpr size_t kLongestPath = 1024;
constexpr const char *kDefaultOpenElement = "?OpenElement&amp;FieldElemFormat=";
constexpr const char *kDefaultOpenResource = "?OpenImageResource";

/* The records of one image, from its CDGRAPHIC to `last`. */
struct image_parts {
  record_storage *graphic = nullptr;
  record_storage *last = nullptr;
  const record_storage *image_header = nullptr;
  const record_storage *bitmap_header = nullptr;
  const record_storage *alt_text = nullptr;
  const record_storage *float_record = nullptr;
  const record_storage *vertical_align = nullptr;
  const record_storage *storage_link = nullptr;
  const record_storage *idname = nullptr;
  const record_storage *resource = nullptr;
  const record_storage *border = nullptr;
};

/* Records that end an image: what follows it in the document. */
bool EndsImage(WORD signature) {
  switch (signature) {
  case SIG_CD_END:
  case SIG_CD_BEGIN:
  case SIG_CD_TEXT:
  case SIG_CD_BIDI_TEXT:
  case SIG_CD_HOTSPOTEND:
  case SIG_CD_V4HOTSPOTEND:
  case SIG_CD_ALTHOTSPOTEND:
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
  case SIG_CD_RESOURCELINKBEGIN:
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_TABLECELL:
  case SIG_CD_TABLEEND:
  case SIG_CD_NESTEDTABLEBEGIN:
  case SIG_CD_NESTEDTABLECELL:
  case SIG_CD_NESTEDTABLEEND:
  case SIG_CD_PRETABLEBEGIN:
  case SIG_CD_PARAGRAPH:
  case SIG_CD_PABREFERENCE:
  case SIG_CD_GRAPHIC:
    return true;
  default:
    return false;
  }
}

bool IsNamedImageResource(const record_storage *node) {
  WORD type = 0;
  WORD resourceClass = 0;
  return ReadRecordWord(node->data, node->length, offsetof(CDRESOURCE, Type), &type) &&
         ReadRecordWord(node->data, node->length, offsetof(CDRESOURCE, ResourceClass),
                        &resourceClass) &&
         type == kResourceNamedElement && resourceClass == kResourceImageClass;
}

image_parts GatherParts(html_render_info *c) {
  image_parts parts;
  parts.graphic = c->current_record;
  parts.last = parts.graphic;
  for (record_storage *node = parts.graphic->next;
       node != nullptr && !EndsImage(node->signature) && !IsBeyondLast(c, node);
       node = node->next) {
    parts.last = node;
    const record_storage **slot = nullptr;
    switch (node->signature) {
    case SIG_CD_IMAGEHEADER:
      slot = &parts.image_header;
      break;
    case SIG_CD_BITMAPHEADER:
      slot = &parts.bitmap_header;
      break;
    case SIG_CD_ALTTEXT:
      slot = &parts.alt_text;
      break;
    case SIG_CD_FLOAT:
      slot = &parts.float_record;
      break;
    case SIG_CD_VERTICALALIGN:
      slot = &parts.vertical_align;
      break;
    case SIG_CD_STORAGELINK:
      slot = &parts.storage_link;
      break;
    case SIG_CD_IDNAME:
      slot = &parts.idname;
      break;
    case SIG_CD_BORDERINFO:
      slot = &parts.border;
      break;
    case SIG_CD_RESOURCE:
      if (IsNamedImageResource(node))
        slot = &parts.resource;
      break;
    default:
      break;
    }
    if (slot != nullptr && *slot == nullptr)
      *slot = node;
  }
  return parts;
}

WORD Word(const record_storage *node, DWORD offset) {
  WORD value = 0;
  if (node != nullptr)
    ReadRecordWord(node->data, node->length, offset, &value);
  return value;
}

/* A text of a record: `length` bytes at `offset`, when the record holds
 * them. */
bool RecordText(const record_storage *node, DWORD offset, DWORD length, const char **text) {
  if (node == nullptr || node->data == nullptr || offset + length > node->length)
    return false;
  *text = node->data + offset;
  return true;
}

/* The CDIDNAME's extra-attribute text and its name. */
bool IdnameTexts(const record_storage *idname, const char **extra, WORD *extraLength,
                 const char **name, WORD *nameLength) {
  if (idname == nullptr || idname->length < sizeof(CDIDNAME))
    return false;
  CDIDNAME id;
  memcpy(&id, idname->data, sizeof id);
  const DWORD extraAt = sizeof(CDIDNAME) + DWORD{id.Length} + id.ClassNameLength + id.StyleLength +
                        id.TitleLength;
  if (!RecordText(idname, extraAt, id.ExtraLength, extra) ||
      !RecordText(idname, extraAt + id.ExtraLength, id.NameLength, name))
    return false;
  *extraLength = id.ExtraLength;
  *nameLength = id.NameLength;
  return true;
}

/* ---- names and paths ---- */

/* The last path element of a name from the document, or false when it
 * may not name a file: empty, ".", "..", control bytes, or too long. */
bool CheckedName(const char *name, size_t length, std::string *checked) {
  size_t from = 0;
  for (size_t i = 0; i < length; ++i) {
    if (name[i] == '/' || name[i] == '\\')
      from = i + 1;
  }
  checked->assign(name + from, length - from);
  if (checked->empty() || *checked == "." || *checked == ".." || checked->size() > kLongestName)
    return false;
  for (unsigned char ch : *checked) {
    if (ch < 0x20 || ch == 0x7F)
      return false;
  }
  return true;
}

/* The name as the file system spells it: names are LMBCS, files are named
 * in the native character set, which the references' URL escaping also
 * gives (UTF-8). */
std::string NativeName(const std::string &name) {
  if (name.size() > kLongestPath)
    return name;
  char native[4 * kLongestPath + 1];
  const WORD written = OSTranslate(OS_TRANSLATE_LMBCS_TO_NATIVE, name.data(),
                                   static_cast<WORD>(name.size()), native, sizeof native);
  return written != 0 || name.empty() ? std::string(native, written) : name;
}

/* The directory and the (LMBCS) name joined with exactly one "/". */
std::string JoinPath(const std::string &directory, const std::string &name) {
  std::string path = directory;
  while (!path.empty() && (path.back() == '/' || path.back() == '\\'))
    path.pop_back();
  return path + "/" + NativeName(name);
}

/* Whether a file can be made at the path: a name that grows past the
 * longest one (an added extension, the image's place, its native
 * spelling) or a path past the longest one is refused as an unsafe name
 * is. */
bool Fits(const std::string &path) {
  const size_t slash = path.rfind('/');
  const size_t name = slash == std::string::npos ? path.size() : path.size() - slash - 1;
  return name <= kLongestName && path.size() <= kLongestPath;
}

/* ---- the rendering of one image ---- */

struct graphic_call {
  html_render_info *c;
  image_parts parts;
  DWORD img_start = 0;
  STATUS status = NOERROR;
  std::string relative; /* the database path under the data directory */
  render_text extra;    /* the extra attributes, made safe; empty when none */
  bool has_extra = false;
  bool settled = false;
  bool whole = false; /* the image's data is whole; set for the disk, resource and MIME handlings */
  bool border_written = false;
  bool alt_written = false;
  bool height_written = false;
  bool width_written = false;
  explicit graphic_call(html_render_info *context) : c(context), extra(context->session) {}
};

bool Xhtml(const graphic_call &g) { return IsXhtml(g.c); }

/* A URL piece from the document: "\" as "/", then escaped for a URL. */
void PutURL(html_render_info *c, const char *text, size_t length) {
  std::string slashed(text, length);
  for (char &ch : slashed) {
    if (ch == '\\')
      ch = '/';
  }
  RenderPutEscaped(c, kEscapeURL, slashed.data(), slashed.size());
}
void PutURL(html_render_info *c, const std::string &text) { PutURL(c, text.data(), text.size()); }

/* An attribute value from the document (double-quoted). */
void PutAttributeText(html_render_info *c, const char *text, size_t length) {
  CopyTranslatedText(c, text, static_cast<DWORD>(length), nullptr, 1, 0, 0);
}

/* "file://" when the URL directory is a drive path ("c:..."). */
const char *FileRule(const char *urlDirectory) {
  return urlDirectory[0] != '\0' && urlDirectory[1] == ':' ? "file://" : "";
}

const char *UrlDirectory(const html_render_info *c) {
  return c->image_url_directory != nullptr ? c->image_url_directory : "";
}

std::string ImageDirectory(const html_render_info *c) {
  if (c->image_directory != nullptr && c->image_directory[0] != '\0')
    return c->image_directory;
  const char *temp = c->session->internal->temp_directory;
  return temp[0] != '\0' ? temp : "/tmp/";
}

/* The image directory, made once per run. */
bool MakeImageDirectory(html_render_info *c) {
  if (c->image_directory_made != 0)
    return true;
  if (MakeDirectoryIfNecessary(ImageDirectory(c).c_str()) == 0)
    return false;
  c->image_directory_made = 1;
  return true;
}

/* The database's path under the data directory: "/" for "\", and
 * everything up to a "!!" removed. */
std::string RelativeDatabasePath(const html_render_info *c, const char *data) {
  const char *database = c->item != nullptr && c->item->database != nullptr ? c->item->database : "";
  const size_t dataLength = strlen(data);
  const char *rest = database;
  if (dataLength > 0 && strncasecmp(database, data, dataLength) == 0) {
    rest = database + dataLength;
    if (*rest == '\\' || *rest == '/')
      ++rest;
  }
  std::string relative(rest);
  for (char &ch : relative) {
    if (ch == '\\')
      ch = '/';
  }
  const size_t bang = relative.find("!!");
  if (bang != std::string::npos)
    relative.erase(0, bang + 2);
  return relative;
}

/* The relative path, which becomes the URL directory of the run
 * when none is set. */
STATUS SettleURLDirectory(graphic_call &g) {
  html_render_info *c = g.c;
  g.relative = RelativeDatabasePath(c, c->image_data_directory);
  if (c->image_url_directory != nullptr && c->image_url_directory[0] != '\0')
    return NOERROR;
  char *kept = VelkoAllocatePtrAndCopy(c->session, VELKO_HERE, g.relative.c_str(), 0);
  if (kept == nullptr)
    return VELKO_ERR_MEMORY;
  VelkoDeallocatePtr(c->session, c->image_url_directory);
  c->image_url_directory = kept;
  return NOERROR;
}

/* The note's UNID: UseUNID=, else the note's OID. */
UNIVERSALNOTEID NoteUnid(const html_render_info *c) {
  if (c->use_unid != 0)
    return c->unid;
  UNIVERSALNOTEID unid = {};
  if (c->item != nullptr && c->item->note != NULLHANDLE) {
    ORIGINATORID oid = {};
    NSFNoteGetInfo(c->item->note, _NOTE_OID, &oid);
    unid.File[0] = oid.File[0];
    unid.File[1] = oid.File[1];
    unid.Note = oid.Note;
  }
  return unid;
}

/* The four words as "%.8x%.8x%.8x%.8x" writes them, without the format
 * parse: the text is written for every image. */
std::string UnidText(const UNIVERSALNOTEID &unid) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const DWORD words[] = {unid.File[1], unid.File[0], unid.Note.Innards[1], unid.Note.Innards[0]};
  std::string text(8 * std::size(words), '0');
  size_t at = 0;
  for (const DWORD word : words) {
    for (int shift = 28; shift >= 0; shift -= 4)
      text[at++] = kDigits[(word >> shift) & 0x0F];
  }
  return text;
}

/* Where the image's records lie in the stored items: the item number and
 * the offset behind the graphic record. */
position_side_data ImagePosition(const record_storage *graphic) {
  const auto *side = static_cast<const position_side_data *>(graphic->SideData());
  return side != nullptr ? *side : position_side_data{};
}

const char *ItemName(const html_render_info *c) {
  return c->item != nullptr && c->item->item_name != nullptr ? c->item->item_name : "";
}

/* "%s_%d_%x.%s": the item, the piece and the offset word, the extension;
 * false when the item's name may not name a file. */
bool EmbeddedFileName(const graphic_call &g, const char *extension, std::string *name) {
  std::string item;
  const char *itemName = ItemName(g.c);
  if (!CheckedName(itemName, strlen(itemName), &item))
    return false;
  const position_side_data position = ImagePosition(g.parts.graphic);
  char tail[64];
  snprintf(tail, sizeof tail, "_%u_%x.%s", unsigned{position.item_number},
           unsigned{position.offset}, extension);
  *name = item + tail;
  return true;
}

/* Writes the image of the rich text as a file of the run in the directory
 * under the name; the name the run gave it. An image whose data is not
 * whole gets no file and keeps its name. */
std::string WriteImageFile(graphic_call &g, const std::string &directory,
                           const std::string &name) {
  if (!g.whole)
    return name;
  LSXLsiSession *session = g.c->session;
  const record_storage *image = g.parts.graphic->next;
  return WriteRunFile(
      g.c, directory, name, (g.c->image_flags & fi::NoImageOverwrite) != 0,
      [session, image](const std::string &path) {
        return GenerateGraphicFileFromCDRecords(session, path.c_str(), image);
      },
      &g.status);
}

void PutUrlDirectoryPrefix(html_render_info *c) {
  const char *url = UrlDirectory(c);
  RenderPuts(c, FileRule(url));
  RenderPuts(c, url);
  if (url[0] != '\0')
    RenderPutc(c, '/');
}

/* ---- a src= among the extra attributes ---- */

void SourceFromExtra(graphic_call &g) {
  if (!g.has_extra || g.extra.data == nullptr)
    return;
  const size_t size = strlen(g.extra.data) + 1;
  std::string value(size, '\0');
  if (ExtractProperty(g.extra.data, "src=", value.data(), size) == 0)
    return;
  value.resize(strlen(value.c_str()));
  RenderPuts(g.c, " src=\"");
  RenderPuts(g.c, value.c_str());
  RenderPutc(g.c, '"');
  EliminateProperty(g.extra.data, "src=");
  g.extra.length = static_cast<DWORD>(strlen(g.extra.data));
  while (g.extra.length > 0 && g.extra.data[g.extra.length - 1] == ' ')
    g.extra.data[--g.extra.length] = '\0';
  g.settled = true;
}

/* ---- a named image resource ---- */

/* The resource's name: stored, or the text its formula gives (empty when
 * the formula does not evaluate). False when memory ran out. */
bool ResourceName(graphic_call &g, const record_storage *resource, std::string *out) {
  out->clear();
  CDRESOURCE header;
  memcpy(&header, resource->data, sizeof header);
  const DWORD nameAt = kResourceTexts + DWORD{header.ServerHintLength} + header.FileHintLength +
                       kResourceReference;
  const char *name = nullptr;
  if (!RecordText(resource, nameAt, header.Length1, &name))
    return true;
  if ((header.Flags & kResourceFormula) == 0) {
    out->assign(name, header.Length1);
    return true;
  }
  render_text text{g.c->session};
  const STATUS status = RenderFormulaText(g.c, name, header.Length1, &text);
  if (status == VELKO_ERR_MEMORY)
    return false;
  if (status == NOERROR && text.data != nullptr)
    out->assign(text.data, text.length);
  return true;
}

void DatabaseReference(const record_storage *resource, DWORD words[2]) {
  CDRESOURCE header;
  memcpy(&header, resource->data, sizeof header);
  const DWORD at = kResourceTexts + DWORD{header.ServerHintLength} + header.FileHintLength;
  words[0] = words[1] = 0;
  ReadRecordDword(resource->data, resource->length, at, &words[0]);
  ReadRecordDword(resource->data, resource->length, at + 4, &words[1]);
}

void WriteResourceAltForMime(graphic_call &g, const std::string &name) {
  html_render_info *c = g.c;
  DWORD words[2];
  DatabaseReference(g.parts.resource, words);
  const char *where = nullptr;
  if (words[1] == 0) {
    static const char *const known[] = {" from user mail file", " from address book",
                                        " from headlines", " from bookmark db"};
    if (words[0] >= 0x0E00 && words[0] <= 0x0E03)
      where = known[words[0] - 0x0E00];
    else if (words[0] == 0)
      where = "";
  }
  RenderPuts(c, " alt=\"");
  PutAttributeText(c, name.data(), name.size());
  if (where != nullptr)
    RenderPuts(c, where);
  else
    RenderPrintf(c, " from __%.8X%.8X.nsf", unsigned{words[1]}, unsigned{words[0]});
  RenderPutc(c, '"');
  g.alt_written = true;
}

/* Tells a caller that takes the MIME part in memory of the resource the
 * run names by the id, escaped for a URL as the HTML holds it. False when
 * memory ran out. */
bool ReportResource(html_render_info *c, std::string_view id, std::string_view name) {
  if (c->part_memory == nullptr)
    return true;
  render_text escaped{c->session};
  RenderTextPutEscaped(&escaped, kEscapeURL, id.data(), id.size());
  if (escaped.status != NOERROR)
    return false;
  c->part_memory->ResourceNamed(escaped.data, escaped.length, name.data(), name.size());
  return true;
}

/* False when memory ran out; what was written of the element is then
 * dropped. */
bool SourceFromResource(graphic_call &g) {
  if (g.settled || g.parts.resource == nullptr ||
      g.parts.resource->length < kResourceTexts)
    return true;
  html_render_info *c = g.c;
  std::string name;
  if (!ResourceName(g, g.parts.resource, &name))
    return false;
  const char *open = c->open_image_resource_string != nullptr ? c->open_image_resource_string
                                                              : kDefaultOpenResource;
  g.settled = true;
  if (c->image_handling == kHandlingDisk && (c->image_flags & fi::ImageResourceToDisk) != 0) {
    // The file takes the name's last path element, and so does the link
    // to it; a name that may not name a file is linked as it stands.
    std::string file;
    const bool safe = CheckedName(name.data(), name.size(), &file);
    if (c->item != nullptr && safe && MakeImageDirectory(c)) {
      // A resource that is not there, or holds no whole image, writes
      // nothing and is referenced all the same, as an image of the rich
      // text whose data is not whole.
      const std::string directory = ImageDirectory(c);
      if (Fits(JoinPath(directory, file))) {
        bool missing = false;
        STATUS status = g.status;
        file = WriteRunFile(
            c, directory, file, false,
            [c, &name, &missing](const std::string &path) {
              return WriteImageResourceFile(c->session, c->item->server, c->item->database,
                                            name.c_str(), path.c_str(), &missing);
            },
            &status);
        if (!missing)
          g.status = status;
      }
    }
    const char *url = UrlDirectory(c);
    RenderPuts(c, " src=\"");
    if (url[0] == '\0') {
      PutURL(c, name);
      RenderPuts(c, open);
    } else {
      PutUrlDirectoryPrefix(c);
      PutURL(c, safe ? file : name);
    }
    RenderPutc(c, '"');
    return true;
  }
  if (c->mime_mode == 0) {
    RenderPuts(c, " src=\"");
    // A database at the data directory itself: the name alone.
    if (!g.relative.empty() && c->inplace_image_url_directory != nullptr) {
      RenderPuts(c, c->inplace_image_url_directory);
      RenderPutc(c, '/');
    } else if (!g.relative.empty()) {
      RenderPutc(c, '/');
      PutURL(c, g.relative);
      RenderPutc(c, '/');
    }
    PutURL(c, name);
    RenderPuts(c, open);
    RenderPutc(c, '"');
    return true;
  }
  std::string cid = name.substr(0, name.find('|'));
  for (char &ch : cid) {
    if (ch == '\\' || ch == '/')
      ch = '_';
  }
  RenderPuts(c, " src=\"cid:");
  PutURL(c, cid);
  RenderPutc(c, '"');
  if (!ReportResource(c, cid, name))
    return false;
  if (g.parts.alt_text == nullptr && (c->flags & html_flags::WAICompliant) != 0)
    WriteResourceAltForMime(g, name);
  return true;
}

/* ---- the image of the rich text ---- */

void WriteUnidentifiedAlt(graphic_call &g, const char *prefix, const char *text, size_t length,
                          const char *suffix) {
  if (g.parts.alt_text != nullptr || (g.c->flags & html_flags::WAICompliant) == 0)
    return;
  RenderPuts(g.c, " alt=\"");
  RenderPuts(g.c, prefix);
  PutAttributeText(g.c, text, length);
  RenderPuts(g.c, suffix);
  RenderPutc(g.c, '"');
  g.alt_written = true;
}

void DiskImage(graphic_call &g, const char *extension, const char *kind) {
  html_render_info *c = g.c;
  const char *idExtra = nullptr;
  const char *idName = nullptr;
  WORD extraLength = 0;
  WORD nameLength = 0;
  const bool named = (c->image_flags & fi::ImageUseName) != 0 &&
                     IdnameTexts(g.parts.idname, &idExtra, &extraLength, &idName, &nameLength) &&
                     nameLength > 0;
  const bool directory = MakeImageDirectory(c);
  if (named) {
    std::string file;
    const bool safe = CheckedName(idName, nameLength, &file);
    if (safe && (file.size() < 4 || file.find('.') == std::string::npos))
      file = file + "." + extension;
    const std::string path = JoinPath(ImageDirectory(c), file);
    std::string linked = file;
    if (safe && directory && Fits(path))
      linked = WriteImageFile(g, ImageDirectory(c), file);
    RenderPuts(c, " src=\"");
    PutUrlDirectoryPrefix(c);
    PutURL(c, linked);
    RenderPutc(c, '"');
    WriteUnidentifiedAlt(g, "Unidentified image: ", file.data(), file.size(), "");
    return;
  }
  std::string file;
  const bool safe = EmbeddedFileName(g, extension, &file);
  std::string folder;
  std::string target = ImageDirectory(c);
  bool ready = directory;
  if ((c->image_flags & fi::ImageUNIDAsFolder) != 0) {
    folder = UnidText(NoteUnid(c));
    target = JoinPath(target, folder);
    ready = ready && MakeDirectoryIfNecessary(target.c_str()) != 0;
  } else if (c->default_subdirectory != nullptr && c->default_subdirectory[0] != '\0') {
    std::string subdirectory;
    const char *given = c->default_subdirectory;
    if (CheckedName(given, strlen(given), &subdirectory)) {
      folder = subdirectory;
      target = JoinPath(target, folder);
      ready = ready && MakeDirectoryIfNecessary(target.c_str()) != 0;
    } else {
      ready = false;
    }
  }
  const std::string path = JoinPath(target, file);
  if (safe && ready && Fits(path))
    file = WriteImageFile(g, target, file);
  RenderPuts(c, " src=\"");
  PutUrlDirectoryPrefix(c);
  if (!folder.empty()) {
    PutURL(c, folder);
    RenderPutc(c, '/');
  }
  PutURL(c, file);
  RenderPutc(c, '"');
  WriteUnidentifiedAlt(g, "Unidentified ", kind, strlen(kind), " image");
}

void ResourceImage(graphic_call &g, const char *extension) {
  html_render_info *c = g.c;
  const char *idExtra = nullptr;
  const char *idName = nullptr;
  WORD extraLength = 0;
  WORD nameLength = 0;
  std::string name;
  bool safe = true;
  if ((c->image_flags & fi::ImageUseName) != 0 &&
      IdnameTexts(g.parts.idname, &idExtra, &extraLength, &idName, &nameLength) &&
      nameLength > 0) {
    safe = CheckedName(idName, nameLength, &name);
  } else {
    std::string file;
    safe = EmbeddedFileName(g, extension, &file);
    name = UnidText(NoteUnid(c)) + "_" + file;
  }
  if (safe && g.whole && c->image_db != NULLHANDLE) {
    const int replace = (c->image_flags & fi::NoImageOverwrite) != 0 ? 0 : 1;
    g.status = GenerateImageResourceFromCDRecords(c->session, name.c_str(), g.parts.graphic,
                                                  c->image_db, replace);
  }
  RenderPuts(c, " src=\"");
  PutUrlDirectoryPrefix(c);
  PutURL(c, name);
  RenderPuts(c, c->open_image_resource_string != nullptr ? c->open_image_resource_string
                                                         : kDefaultOpenResource);
  RenderPutc(c, '"');
  WriteUnidentifiedAlt(g, "Image resource ", name.data(), name.size(), "");
}

void ServerImage(graphic_call &g, const char *extension, bool bitmap) {
  html_render_info *c = g.c;
  std::string base;
  if (c->inplace_image_url_directory != nullptr)
    base = c->inplace_image_url_directory;
  const bool inPlace = c->inplace_image_url_directory != nullptr;
  const position_side_data position = ImagePosition(g.parts.graphic);
  const char *open = c->open_element_string != nullptr ? c->open_element_string
                                                       : kDefaultOpenElement;
  RenderPuts(c, " src=\"");
  if (!inPlace) {
    RenderPutc(c, '/');
    PutURL(c, g.relative);
  } else {
    RenderPuts(c, base.c_str());
  }
  const bool baseEmpty = !inPlace ? false : base.empty();
  if ((c->flags2 & html_flags2::ImageRelativeToPage) != 0) {
    if (!baseEmpty)
      RenderPutc(c, '/');
  } else {
    RenderPuts(c, "/0/");
    RenderPuts(c, UnidText(NoteUnid(c)).c_str());
    RenderPutc(c, '/');
  }
  PutURL(c, ItemName(c), strlen(ItemName(c)));
  RenderPrintf(c, "/%u.%x", unsigned{position.item_number}, unsigned{position.offset});
  RenderPuts(c, open);
  RenderPuts(c, bitmap ? "gif" : extension);
  RenderPutc(c, '"');
  if (bitmap) {
    RenderPuts(c, Xhtml(g) ? " border=\"0\"" : " border='0'");
    g.border_written = true;
    WriteUnidentifiedAlt(g, "Unidentified GIF image", "", 0, "");
  }
}

/* The content id of an embedded image of a MIME message: the kind (2 for
 * JPEG, else 1), the image's item number and offset word, the note part
 * of the UNID; upper case. An image whose data is not whole gets no
 * source, as the message has no part for it. */
void MimeImage(graphic_call &g, WORD imageType) {
  if (!g.whole)
    return;
  char id[64];
  ImageContentID(imageType, ImagePosition(g.parts.graphic), NoteUnid(g.c), id, sizeof id);
  RenderPuts(g.c, Xhtml(g) ? " src=\"cid:" : " src=cid:");
  RenderPuts(g.c, id);
  if (Xhtml(g))
    RenderPutc(g.c, '"');
}

/* False when the image ends here without an element. */
bool SourceFromGraphic(graphic_call &g) {
  if (g.settled)
    return true;
  html_render_info *c = g.c;
  const WORD mode = c->image_handling;
  const bool isLast = g.parts.graphic->next == nullptr || g.parts.graphic == c->last_record;
  if (isLast || (g.parts.image_header == nullptr && mode != kHandlingDefault))
    return false;
  const WORD imageType = g.parts.image_header != nullptr ? Word(g.parts.image_header, 8) : 1;
  const bool jpeg = imageType == kImageTypeJpeg;
  const char *extension = jpeg ? "jpg" : "gif";
  const char *kind = jpeg ? "jpeg" : "gif";
  g.settled = true;
  if (mode == kHandlingDisk || mode == kHandlingResource || c->mime_mode != 0)
    g.whole = g.parts.image_header != nullptr && ImageDataIsWhole(g.parts.graphic->next);
  if (mode == kHandlingDisk) {
    DiskImage(g, extension, kind);
  } else if (mode == kHandlingResource) {
    ResourceImage(g, extension);
  } else if (c->mime_mode != 0) {
    MimeImage(g, imageType);
  } else {
    ServerImage(g, extension, g.parts.image_header == nullptr && g.parts.bitmap_header != nullptr);
  }
  return true;
}

/* ---- a storage link ---- */

void SourceFromStorageLink(graphic_call &g) {
  const record_storage *link = g.parts.storage_link;
  if (g.settled || link == nullptr)
    return;
  html_render_info *c = g.c;
  const WORD type = Word(link, offsetof(CDSTORAGELINK, StorageType));
  const WORD length = Word(link, offsetof(CDSTORAGELINK, Length));
  const char *reference = nullptr;
  if (!RecordText(link, sizeof(CDSTORAGELINK), length, &reference))
    return;
  if (type == 4) {
    RenderPuts(c, " src=\"");
    PutURL(c, reference, length);
    RenderPutc(c, '"');
    g.settled = true;
  } else if (type == 1) {
    RenderPuts(c, " src=\"");
    if (c->inplace_image_url_directory != nullptr) {
      RenderPuts(c, c->inplace_image_url_directory);
      RenderPuts(c, "/0/");
    } else if (!g.relative.empty()) {
      RenderPutc(c, '/');
      PutURL(c, g.relative);
      RenderPuts(c, "/0/");
    }
    RenderPuts(c, UnidText(NoteUnid(c)).c_str());
    RenderPuts(c, "/$File/");
    PutURL(c, reference, length);
    RenderPutc(c, '/');
    PutURL(c, reference, length);
    RenderPuts(c, ".gif?OpenElement\"");
    g.settled = true;
  }
}

/* ---- the attributes ---- */

/* A value of the extra attributes ("height=", "width="), taken out of
 * them so that it is written once. */
bool TakeExtraValue(graphic_call &g, const char *key, std::string *value) {
  if (!g.has_extra || g.extra.data == nullptr)
    return false;
  const size_t size = strlen(g.extra.data) + 1;
  value->assign(size, '\0');
  if (ExtractProperty(g.extra.data, key, value->data(), size) == 0)
    return false;
  value->resize(strlen(value->c_str()));
  EliminateProperty(g.extra.data, key);
  g.extra.length = static_cast<DWORD>(strlen(g.extra.data));
  // A value quoted in the source keeps its quotes; the attribute has its own.
  if (value->size() >= 2 && (value->front() == '"' || value->front() == '\'') &&
      value->back() == value->front())
    *value = value->substr(1, value->size() - 2);
  return true;
}

/* The image's own size for one dimension: the graphic's destination size,
 * the image header's, the bitmap's; 0 when none gives one. */
WORD OwnSize(const graphic_call &g, bool height) {
  const record_storage *graphic = g.parts.graphic;
  const WORD resize = Word(graphic, offsetof(CDGRAPHIC, Resize));
  const WORD destination = Word(graphic, height ? offsetof(CDGRAPHIC, DestHeight)
                                                : offsetof(CDGRAPHIC, DestWidth));
  if (resize != 0 && destination != 0) {
    BYTE flags = 0;
    ReadRecordByte(graphic->data, graphic->length, offsetof(CDGRAPHIC, Flags), &flags);
    return (flags & 0x01) != 0 ? destination : static_cast<WORD>(destination / 15);
  }
  if (g.parts.image_header != nullptr) {
    const WORD size = Word(g.parts.image_header, height ? 12 : 10);
    if (size != 0)
      return size;
  }
  if (g.parts.bitmap_header != nullptr)
    return Word(g.parts.bitmap_header, height ? 26 : 24);
  return 0;
}

void WriteSize(graphic_call &g, bool height, bool fallback) {
  bool &written = height ? g.height_written : g.width_written;
  if (written)
    return;
  // The name with its blank, "=" and opening quote.
  const char *name = height ? " height=\"" : " width=\"";
  std::string value;
  if (TakeExtraValue(g, height ? "height=" : "width=", &value)) {
    RenderPuts(g.c, name);
    PutAttributeText(g.c, value.data(), value.size());
    RenderPutc(g.c, '"');
    written = true;
    return;
  }
  const WORD own = OwnSize(g, height);
  if (own != 0 || fallback) {
    RenderPuts(g.c, name);
    RenderPutDecimal(g.c, own != 0 ? long{own} : 100L);
    RenderPutc(g.c, '"');
    written = true;
  }
}

void WriteAltText(graphic_call &g) {
  const record_storage *alt = g.parts.alt_text;
  if (alt == nullptr || g.alt_written)
    return;
  const WORD length = Word(alt, offsetof(CDALTTEXT, Length));
  const char *text = nullptr;
  if (!RecordText(alt, sizeof(CDALTTEXT), length, &text))
    return;
  html_render_info *c = g.c;
  RenderPuts(c, " alt=\"");
  const char *blank = c->blank_alt_string;
  const bool isBlank = blank != nullptr && strlen(blank) == length && memcmp(blank, text, length) == 0;
  if (!isBlank)
    PutAttributeText(c, text, length);
  RenderPutc(c, '"');
  g.alt_written = true;
}

void WriteBorder(graphic_call &g) {
  if (g.border_written)
    return;
  html_render_info *c = g.c;
  const record_storage *border = g.parts.border;
  if (border == nullptr || border->length < sizeof(CDBORDERINFO)) {
    RenderPuts(c, " border=\"0\"");
    return;
  }
  BYTE low = 0;
  ReadRecordByte(border->data, border->length, 24, &low);
  if (Word(border, 8) == 0 && (low & 0x01) == 0)
    RenderPuts(c, " border=\"0\"");
  else
    RenderPrintf(c, " border=\"%u\"", unsigned{Word(border, 12)});
  const unsigned top = Word(border, 36);
  const unsigned left = Word(border, 38);
  const unsigned bottom = Word(border, 40);
  const unsigned right = Word(border, 42);
  if (top + bottom != 0)
    RenderPrintf(c, " vspace=\"%u\"", top > bottom ? top : bottom);
  if (left + right != 0)
    RenderPrintf(c, " hspace=\"%u\"", left > right ? left : right);
  CalculateXMLBorderString(border, c);
  const char *style = c->session->scratch_second;
  if (style[0] != '\0' && strcmp(style, " ") != 0) {
    RenderPuts(c, " style=\"");
    RenderPuts(c, style);
    RenderPutc(c, '"');
  }
}

void WriteAlignment(graphic_call &g) {
  html_render_info *c = g.c;
  const char *align = nullptr;
  if (g.parts.float_record != nullptr) {
    align = Word(g.parts.float_record, offsetof(CDFLOAT, Float)) == 1 ? "left" : "right";
  } else if (g.parts.vertical_align != nullptr) {
    switch (Word(g.parts.vertical_align, offsetof(CDVERTICALALIGN, Alignment))) {
    case 1:
      align = "middle";
      break;
    case 2:
      align = "top";
      break;
    case 5:
      align = "bottom";
      break;
    default:
      break;
    }
  }
  if (align != nullptr)
    RenderPrintf(c, " align='%s'", align);
}

STATUS WriteAttributes(graphic_call &g) {
  html_render_info *c = g.c;
  WriteSize(g, true, false);
  WriteSize(g, false, false);
  if (g.parts.idname != nullptr) {
    // An extra text that the image's own passes emptied writes nothing.
    char *extra = g.has_extra ? g.extra.data : nullptr;
    char empty[1] = {'\0'};
    if (g.has_extra && extra == nullptr)
      extra = empty;
    if (STATUS status = CalculateXMLIDName(g.parts.idname->data, g.parts.idname->length, c, extra);
        status != NOERROR)
      return status;
  }
  WriteAltText(g);
  WriteBorder(g);
  WriteAlignment(g);
  WriteSize(g, true, true);
  WriteSize(g, false, true);
  return NOERROR;
}

/* The CDIDNAME's extra attributes as stored. */
STATUS ReadExtra(graphic_call &g) {
  const char *extra = nullptr;
  const char *name = nullptr;
  WORD extraLength = 0;
  WORD nameLength = 0;
  if (!IdnameTexts(g.parts.idname, &extra, &extraLength, &name, &nameLength) || extraLength == 0)
    return NOERROR;
  // Kept as stored: the image's own keys come out of it here, and the
  // identity attributes make what is left safe for the element.
  if (RenderTextPut(&g.extra, extra, extraLength) != NOERROR)
    return VELKO_ERR_MEMORY;
  g.has_extra = true;
  return NOERROR;
}

/* ---- skipping ---- */

bool AnImageRecord(WORD signature) {
  switch (signature) {
  case SIG_CD_GRAPHIC:
  case SIG_CD_IMAGEHEADER:
  case SIG_CD_IMAGESEGMENT:
  case SIG_CD_STORAGELINK:
  case SIG_CD_BITMAPHEADER:
  case SIG_CD_BITMAPSEGMENT:
  case kBitmapTransparency:
  case SIG_CD_COLORTABLE:
  case SIG_CD_PATTERNTABLE:
    return true;
  default:
    return false;
  }
}

STATUS Skip(html_render_info *c) {
  while (c->current_record->next != nullptr && AnImageRecord(c->current_record->next->signature) &&
         !IsBeyondLast(c, c->current_record->next))
    c->current_record = c->current_record->next;
  return NOERROR;
}

bool Tracing(const html_render_info *c) {
  return c->session != nullptr && c->session->internal->debug_level > 2;
}

void Trace(const html_render_info *c, const char *text) {
  if (Tracing(c))
    AddInLogMessageText("%s", 0, text);
}

} // namespace

void ImageContentID(WORD imageType, const position_side_data &position,
                    const UNIVERSALNOTEID &unid, char *out, size_t size) {
  snprintf(out, size, "_%d_%.6u%.6x%.8X%.8X", imageType == kImageTypeJpeg ? 2 : 1,
           unsigned{position.item_number}, unsigned{position.offset},
           unsigned{unid.Note.Innards[1]}, unsigned{unid.Note.Innards[0]});
  for (char *at = out; *at != '\0'; ++at)
    *at = static_cast<char>(toupper(static_cast<unsigned char>(*at)));
}

STATUS ProcessXMLGraphic(html_render_info *context, WORD, WORD) {
  html_render_info *c = context;
  if (c == nullptr || c->current_record == nullptr || c->session == nullptr)
    return NOERROR;
  // The settings are read once per run: reading one looks at the settings
  // file, which costs more than a small image.
  if (c->image_settings_read == 0) {
    const long level = OSGetEnvironmentLong("QuilEditDebug");
    c->image_debug_level = static_cast<WORD>(level < 0 ? 0 : level > 0xFFFF ? 0xFFFF : level);
    memset(c->image_data_directory, 0, sizeof c->image_data_directory);
    OSGetDataDirectory(c->image_data_directory);
    c->image_settings_read = 1;
  }
  c->session->internal->debug_level = c->image_debug_level;
  Trace(c, "PXMLGr - IN");
  // in_link[0]: the hotspot being rendered has shown an attachment
  // (render/hotspot.cpp), whose icon the presets' message replaces, and
  // whose graphic replaces the icon in a message with named attachments.
  const bool attachmentShown = c->in_link[0] != 0;
  if (attachmentShown && (c->flags5 & html_flags5::SeeAttachedMsgEnabled) != 0)
    return Skip(c);
  if (c->image_handling == kHandlingIgnore)
    return Skip(c);
  if (attachmentShown && c->mime_mode != 0 && c->attachment_handling == kHandlingByName &&
      c->attachment_graphic != nullptr)
    return Skip(c);
  if ((c->flags3 & html_flags3::SuppressImages) != 0 && !attachmentShown) {
    if (c->session->internal->debug_level != 0)
      AddInLogMessageText("%s", 0, "Image suppressed due to SuppressImages setting");
    return Skip(c);
  }

  graphic_call g(c);
  g.parts = GatherParts(c);
  g.img_start = c->output_length;
  RenderPuts(c, "<img");
  // Out of memory in the middle of the element: the element goes, cut
  // back to where it began, and the status tells.
  const auto abandon = [&](STATUS status) {
    RenderTruncate(c, g.img_start);
    c->current_record = g.parts.last;
    return status;
  };
  if (SettleURLDirectory(g) != NOERROR || ReadExtra(g) != NOERROR)
    return abandon(VELKO_ERR_MEMORY);
  Trace(c, "PXMLGr - Step 3");
  SourceFromExtra(g);
  if (!SourceFromResource(g))
    return abandon(VELKO_ERR_MEMORY);
  SourceFromStorageLink(g);
  if (!SourceFromGraphic(g)) {
    RenderTruncate(c, g.img_start);
    c->current_record = g.parts.last;
    return NOERROR;
  }
  if (WriteAttributes(g) != NOERROR)
    return abandon(VELKO_ERR_MEMORY);
  RenderPuts(c, IsXhtml(c) ? " />" : ">");
  c->current_record = g.parts.last;
  Trace(c, "PXMLGr - OUT");
  return g.status;
}

bool RenderCheckedFileName(const char *name, size_t length, std::string *checked) {
  return CheckedName(name, length, checked);
}

std::string RenderJoinPath(const std::string &directory, const std::string &name) {
  return JoinPath(directory, name);
}

bool RenderReportResource(html_render_info *context, std::string_view id, std::string_view name) {
  return ReportResource(context, id, name);
}

std::string RenderRelativeDatabasePath(const html_render_info *context) {
  char data[MAXPATH] = {};
  OSGetDataDirectory(data);
  return RelativeDatabasePath(context, data);
}

std::string RenderNoteUnidText(const html_render_info *context) {
  return UnidText(NoteUnid(context));
}
