/*
 * Stored CD records written byte by byte, for test inputs and the `velko
 * build` command.
 *
 * Every record is laid out here from this file's own knowledge of the
 * stored form: little-endian fields, a 2-byte BSIG, 4-byte WSIG or 6-byte
 * LSIG header chosen by the signature, the length counting the whole record
 * with its header. Where the stored form differs from the host form the
 * builder writes the stored one: fields behind an LSIG header sit 2 bytes
 * lower than in host form, and CDPABDEFINITION stops at byte 70, where its
 * extension words follow. Nothing here goes through the host's structure
 * conversion, the item's canonical conversion or the record emitter, so
 * that a fault there cannot hide in the inputs of the tests that check it.
 *
 * A record maker returns the record without its pad byte; Body adds the
 * pad after an odd record when it lays records out as an item value or a
 * CD file. A maker returns an empty vector when the record cannot be
 * stored (a signature that is not 0x00nn or 0xFFnn, a length its header
 * cannot hold, too many tabs, a note link longer than 40 bytes).
 *
 * Not here: reading records back (the host's EnumCompositeFile and the
 * store's loader do that) and the text form of records (cdbuild/cd_script.h).
 */
#ifndef VELKO_CDBUILD_CD_BUILDER_H
#define VELKO_CDBUILD_CD_BUILDER_H

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/cdrecords.h"
#include "host/nsfdata.h"
#include "velko/host_types.h"

namespace cdbuild {

using Bytes = std::vector<BYTE>;

/* Bytes of records per stored item before a further item is started, as
 * the body writer splits them. */
inline constexpr DWORD kItemSplit = 49022;
/* The largest length a BSIG header can carry: its length byte must not be
 * 0x00 or 0xFF, which would make the header read as LSIG or WSIG. */
inline constexpr DWORD kLargestBsigLength = 0xFE;
inline constexpr DWORD kLargestWsigLength = 0xFFFF;

/* ---- headers ---- */

/* True for a signature as the record list holds it: 0x00nn or 0xFFnn. */
bool IsListSignature(WORD signature);

/* A record of the signature: its header (form by the signature) and the
 * body behind it. Empty when the signature is not 0x00nn or 0xFFnn or the
 * length does not fit the header. */
Bytes Record(WORD signature, const Bytes& body);

/* The record with its header length field set to length (whatever the
 * record's real size); for damaged-record inputs. Empty when the value does
 * not fit the field or the record has no valid header. */
Bytes WithHeaderLength(Bytes record, DWORD length);

/* The record with bytes appended behind it and its header length brought up
 * to date. Empty when the new length does not fit the header. */
Bytes WithTail(Bytes record, const Bytes& tail);

/* A record of `length` bytes in all, header included, its header form by
 * the signature. The bytes behind the header are zero, or with
 * Fill::kPattern the byte at record offset n is n * 7 + 1 (cut to a byte),
 * so that a conversion that moves or drops a byte shows. Empty when the
 * signature is not 0x00nn or 0xFFnn or the length is below the header's
 * size or does not fit it. */
enum class Fill { kZero, kPattern };
Bytes Sized(WORD signature, DWORD length, Fill fill = Fill::kZero);

/* The same under the header form given, whatever the signature asks for (a
 * graphic under a byte-length header, a byte-length signature under a
 * double-word one); for damaged-record inputs. The signature's low byte is
 * written where the form holds a byte. */
Bytes SizedAs(cd_header_kind form, WORD signature, DWORD length, Fill fill = Fill::kZero);

/* Little-endian fields written at a byte offset of a record (or of any
 * bytes), for fields no maker sets; the bytes must reach past the field. */
void PutWord(Bytes& bytes, size_t at, WORD value);
void PutDword(Bytes& bytes, size_t at, DWORD value);

/* Bytes from hex digits; spaces, tabs, newlines, ':' and ',' between bytes
 * are skipped. Null when a digit is not hex or the count is odd. */
std::optional<Bytes> ParseHex(std::string_view text);

/* ---- record kinds ---- */

/* A FONTID as stored: face, attributes, colour and size, a byte each. */
struct Font {
  BYTE face = 1;
  BYTE attributes = 0; /* 0x01 bold, 0x02 italic, 0x04 underline, 0x08 strikethrough, ... */
  BYTE color = 0;      /* palette index: 0 black, 1 white, 2 red, 3 green, 4 blue, ... */
  BYTE size = 10;      /* points */
};

/* The FONTID whose four bytes in memory are the font's, in stored order. */
FONTID FontId(const Font& font);

/* A colour value: flags (0x0001 RGB given), red, green, blue, a zero byte. */
struct ColorValue {
  WORD flags = 0x0001;
  BYTE red = 0;
  BYTE green = 0;
  BYTE blue = 0;
};

struct TextFields {
  Font font{};
  std::string text{}; /* written byte for byte */
  WORD signature = SIG_CD_TEXT;
};

struct PabDefFields {
  WORD id = 1;
  WORD justify = 0; /* 0 left, 1 right, 2 full, 3 center, 4 none */
  WORD line_spacing = 0;
  WORD spacing_before = 0;
  WORD spacing_after = 0;
  WORD left = 1440; /* twips */
  WORD right = 0;
  std::optional<WORD> first_line{}; /* unset: the left margin */
  std::vector<int16_t> tabs{};      /* at most 20 positions */
  std::optional<WORD> tab_count{};  /* unset: the number of positions given */
  WORD flags = 0;
  DWORD tab_types = 0;
  WORD flags2 = 0;
  /* Left margin offset and percent, first-line offset and percent, right
   * margin offset and percent; written from byte 70 when given. */
  std::optional<std::array<WORD, 6>> extension{};
  /* Written behind the extension (zero words when none was given). */
  std::optional<DWORD> ext_flags{};
  /* Written behind ext_flags, which becomes 0x1 when it was not given. */
  std::optional<DWORD> flags3{};
};

struct TableBeginFields {
  WORD left = 0;
  WORD horizontal_space = 0;
  WORD vertical_space = 0;
  WORD flags = 0;
  bool nested = false; /* 0xCF instead of 0xA3 */
  std::array<WORD, 2> words{}; /* the two words at offsets 4 and 6 */
};

struct TableCellFields {
  BYTE row = 0;    /* from 0 */
  BYTE column = 0; /* from 0 */
  std::optional<WORD> left{};  /* unset: one inch per column before this one */
  std::optional<WORD> right{}; /* unset: one inch right of the left edge */
  BYTE borders = 0;
  BYTE flags = 0;
  WORD v42_border = 0;
  BYTE row_span = 1;
  BYTE column_span = 1;
  WORD background = 0;
  bool nested = false; /* 0xD0 instead of 0xA4 */
  WORD fraction = 0; /* the fractional width at offset 8 */
};

struct PreTableFields {
  DWORD flags = 0;
  BYTE row_display = 0;
  WORD min_row_height = 0;
  DWORD body_color = 0;  /* 0x00BBGGRR */
  DWORD table_color = 0; /* 0x00BBGGRR */
  ColorValue cell_border_color = {0, 0, 0, 0};
  std::string name{};
  BYTE rows = 0;    /* offset 8 */
  BYTE columns = 0; /* offset 9 */
  DWORD column_sizing = 0; /* offset 12: bit i for column i */
};

struct FieldFields {
  WORD flags = 0;
  WORD data_type = TYPE_TEXT;
  WORD list_delimiter = 0;
  Font font{};
  WORD tab_order = 0;
  std::string default_formula{}; /* compiled formulas, written as given */
  std::string translation_formula{};
  std::string validation_formula{};
  std::string name{};
  std::string description{};
  std::string text_values{};
};

struct ColorFields {
  ColorValue color{};
  std::optional<ColorValue> gradient{}; /* a second colour value */
};

struct HotspotFields {
  WORD signature = SIG_CD_HOTSPOTBEGIN;
  WORD type = 0;
  DWORD flags = 0;
  std::string data{}; /* DataLength bytes behind the fixed part */
};

Bytes Text(const TextFields& fields);
Bytes Text(std::string_view text, Font font = {});
Bytes PabDef(const PabDefFields& fields);
Bytes PabRef(WORD id);
Bytes Paragraph();
Bytes Begin(WORD bracketed, WORD version = 0);
Bytes End(WORD bracketed, WORD version = 0);
Bytes TableBegin(const TableBeginFields& fields = {});
Bytes TableCell(const TableCellFields& fields);
Bytes TableEnd(bool nested = false);
Bytes PreTableBegin(const PreTableFields& fields = {});
Bytes Field(const FieldFields& fields);
/* Pass-through HTML: the text records between them are HTML. */
Bytes HtmlBegin();
Bytes HtmlEnd();
Bytes Color(const ColorFields& fields);
Bytes HotspotBegin(const HotspotFields& fields);
Bytes HotspotEnd(WORD signature = SIG_CD_HOTSPOTEND);
/* CDLINK2: a link by its index in the note's link table. */
Bytes Link(WORD linkID);
/* CDLINKEXPORT2: a 40-byte note link (shorter is zero-filled), then texts. */
Bytes DocLink(const Bytes& noteLink, const Bytes& texts = {});
/* Any signature: the header by its form, then the payload. */
Bytes Raw(WORD signature, const Bytes& payload = {});

struct ButtonFields {
  WORD flags = 0;
  WORD width = 0; /* twips */
  Font font{};
  std::string label{};
};

struct SectionBarFields {
  DWORD flags = 0;
  Font font{};
  WORD color = 0; /* the bar's colour word */
  std::string title{};
};

/* The six texts of a CDIDNAME, written in this order. */
struct IdNameFields {
  WORD signature = SIG_CD_IDNAME;
  std::string id{};
  std::string class_name{};
  std::string style{};
  std::string title{};
  std::string extra{};
  std::string name{};
};

/* CDANCHOR: the anchor's name. */
Bytes Anchor(std::string_view name);
/* CDBUTTON: a button's label behind its fixed part. */
Bytes Button(const ButtonFields& fields);
/* CDBAR: the bar of a section, its title behind the colour word. */
Bytes SectionBar(const SectionBarFields& fields);
/* CDIDNAME (or 0xFF7B): the element's id, class, style, title, extra
 * attributes and name. */
Bytes IdName(const IdNameFields& fields);
/* CDPABHIDE: the compiled hide formula of a paragraph definition. */
Bytes PabHide(WORD pabid, std::string_view formula);
/* A compiled formula as the host stand-in lays it out: the bytes "FM",
 * version word 1, the source length (DWORD) and the source. */
Bytes CompiledFormula(std::string_view source);
/* CDSTYLENAME: a named paragraph style of the PABID (at most 35 bytes of
 * name, NUL-terminated in its 36-byte field). Empty for a longer name. */
Bytes StyleName(WORD pabid, std::string_view name);
/* CDTARGET: the frame a link opens in. */
Bytes Target(std::string_view frame);
/* CDTABLELABEL: a row or tab label (at most 127 bytes, NUL-terminated in
 * its 128-byte field; empty for a longer one) and its flags (2 tab label,
 * 1 row name). */
Bytes TableLabel(std::string_view label, WORD flags = 0);
/* A layer's bracket (CDBEGIN/CDEND for 0x6C, version 2) and its CDLAYER. */
Bytes LayerBegin();
Bytes Layer();
Bytes LayerEnd();

/* CDTABLEDATAEXTENSION with a tab font: tabs equal and indent, the font
 * part's size word (14) and the tab font and its colour. */
struct DataExtensionFields {
  WORD tabs_equal = 0;
  WORD tab_indent = 0;
  Font font{};
  ColorValue color = {0, 0, 0, 0};
};
Bytes DataExtension(const DataExtensionFields& fields);

/* CDBORDERINFO: style, the four side widths (top, left, bottom, right),
 * flags and drop-shadow width. */
struct BorderInfoFields {
  WORD style = 0;
  std::array<WORD, 4> widths{};
  WORD flags = 0;
  WORD shadow = 0;
  ColorValue color = {0, 0, 0, 0};
};
Bytes BorderInfo(const BorderInfoFields& fields);

/* CDTIMERINFO: milliseconds. A table row's height (0xE2), in twips. */
Bytes TimerInfo(DWORD milliseconds);
Bytes RowHeight(WORD twips);

/* A LENGTH_VALUE: flags, a double and its units (2 pixels, 1 twips). */
struct LengthValue {
  WORD flags = 0;
  double length = 0;
  BYTE units = 0;
};

/* CDPOSITIONING: scheme, z-index, top, left, bottom, right and the two
 * browser offsets. */
struct PositioningFields {
  BYTE scheme = 1;
  int32_t z_index = 0;
  LengthValue top{}, left{}, bottom{}, right{};
  double browser_left = 0;
  double browser_right = 0;
};
Bytes Positioning(const PositioningFields& fields);
/* CDBOXSIZE: width and height. */
Bytes BoxSize(const LengthValue& width, const LengthValue& height);
/* CDBACKGROUNDPROPERTIES: the repeat mode. */
Bytes BackgroundProperties(BYTE repeat);
/* The tab of a section's bar (0x62): version 1, width 128, the kind. */
Bytes BarTab(DWORD kind);

/* ---- graphics, file data and resources ---- */

struct GraphicFields {
  WORD dest_width = 0; /* the size the graphic is shown at */
  WORD dest_height = 0;
  WORD resize = 0; /* non-zero: the destination size is set */
  BYTE version = 0;
  BYTE flags = 0;
};

struct ImageHeaderFields {
  WORD image_type = 1; /* 1 GIF, 2 JPEG, 3 BMP */
  WORD width = 0;
  WORD height = 0;
  DWORD data_size = 0;
  DWORD segment_count = 0;
};

struct BitmapHeaderFields {
  WORD dest_width = 0;
  WORD dest_height = 0;
  WORD width = 0;
  WORD height = 0;
  WORD bits_per_pixel = 1;
  WORD samples_per_pixel = 1; /* bits per sample: bits per pixel / samples */
  WORD segment_count = 0;
};

struct FileHeaderFields {
  std::string extension{}; /* behind the fixed part */
  DWORD data_size = 0;
  DWORD segment_count = 0;
  DWORD flags = 0;
};

struct StorageLinkFields {
  WORD storage_type = 1; /* 1 a file object of the note, 4 a URL */
  WORD load_type = 1;
  std::string reference{}; /* the object's name or the URL */
};

struct ResourceFields {
  WORD signature = SIG_CD_RESOURCE;
  DWORD flags = 0; /* 0x1 the name is a formula, 0x2 the note link is inline */
  WORD type = 1;   /* 1 URL, 2 note link, 3 named element, ... */
  WORD resource_class = 0;
  std::string server_hint{};
  std::string file_hint{};
  Bytes link{};       /* a note link, link index or database reference, by type */
  std::string name{}; /* Length1 bytes behind the link */
};

Bytes Graphic(const GraphicFields& fields = {});
Bytes ImageHeader(const ImageHeaderFields& fields);
/* A piece of image data; its segment size is the data's length made even. */
Bytes ImageSegment(const Bytes& data);
Bytes BitmapHeader(const BitmapHeaderFields& fields);
Bytes BitmapSegment(const Bytes& data, WORD scanlines = 1);
Bytes FileHeader(const FileHeaderFields& fields);
Bytes FileSegment(const Bytes& data);
Bytes StorageLink(const StorageLinkFields& fields);
Bytes Resource(const ResourceFields& fields);

/* ---- image attributes, embedded controls and image maps ---- */

struct CaptionFields {
  std::string text{};
  BYTE position = 0; /* 1 centre, 0 bottom */
  Font font{};
  ColorValue color{};
};

struct EmbeddedControlFields {
  WORD type = 0;
  DWORD flags = 0;
  WORD width = 0; /* twips */
  WORD height = 0;
  Font text_font{};
  Font first_sub_font{}; /* at 28 */
  Font second_sub_font{}; /* at 32 */
  ColorValue colors[2] = {};
};

struct MapElementFields {
  WORD last_default = 0; /* the last region ids of each shape */
  WORD last_rectangle = 0;
  WORD last_circle = 0;
  WORD last_polygon = 0;
};

struct EventFields {
  WORD signature = SIG_CD_EVENT;
  WORD event_type = 0;
  WORD action_type = 0;
  DWORD action_length = 0;
  Bytes action{}; /* behind the fixed part */
};

/* CDALTTEXT: a graphic's alternate text. */
Bytes AltText(std::string_view text);
/* CDCAPTION: a graphic's caption, its position, font and colour. */
Bytes Caption(const CaptionFields& fields);
/* CDBORDERINFO: the style and one width for all four sides. */
Bytes BorderInfo(WORD style, WORD width);
/* CDFLOAT (1 left, 2 right) and CDVERTICALALIGN. */
Bytes Float(WORD side);
Bytes VerticalAlign(WORD alignment);
/* The repeat mode of a background image (0xFFEE). */
Bytes BackgroundRepeat(BYTE mode);
/* CDEMBEDDEDCONTROL (0xFFEA, 64 bytes). */
Bytes EmbeddedControl(const EmbeddedControlFields& fields);
/* CDMAPELEMENT (no map name) and CDAREAELEMENT with its coordinate bytes. */
Bytes MapElement(const MapElementFields& fields);
Bytes AreaElement(WORD shape, WORD tabIndex, const Bytes& coordinates = {});
/* CDEVENT (or 0xFF66) and CDBLOBPART (or 0xFF65) with their data. */
Bytes Event(const EventFields& fields);
Bytes BlobPart(WORD signature, WORD owner, WORD maximum, const Bytes& data);

/* ---- links, fields and events ---- */

/* A 40-byte note link: the replica ID (two words, low first), then the
 * view's and the note's UNIDs (four words each, in storage order). */
Bytes NoteLink(const std::array<DWORD, 2>& replica, const std::array<DWORD, 4>& view,
               const std::array<DWORD, 4>& note);
/* CDEXTFIELD: its two flag words. */
Bytes ExtField(DWORD flags1, DWORD flags2);
struct Ext2FieldFields {
  DWORD flags = 0;
  DWORD currency_flags = 0;
  DWORD country = 0x348;
  std::array<BYTE, 6> date_time{}; /* year, month, weekday, day, date, time formats */
  WORD date_time_flags = 0;
};
/* CDEXT2FIELD, 88 bytes. */
Bytes Ext2Field(const Ext2FieldFields& fields);
/* A field's embedded control record 0xFFF7, 36 bytes: its flag word. */
Bytes FieldControl(DWORD flags);

/* An OLE object record (0xFFA7, 20 bytes): the name's length at byte 14
 * (nameLength, or the name's own when negative), the name behind. */
Bytes OleObject(std::string_view name, int nameLength = -1);

/* A face of a font table: its id and name (at most 31 bytes). */
struct FontFace {
  BYTE id = 0;
  std::string name{};
};
/* CDFONTTABLE (0xFF8B): the face count, then a 34-byte CDFACE per face
 * (id, family 0, the name NUL-filled to 32 bytes). */
Bytes FontTable(const std::vector<FontFace>& faces);

/* ---- record lists ---- */

/* Records in order, laid out as item values or a CD file. */
class Body {
public:
  /* Appends a record (without pad). An empty record marks the body as
   * failed: a maker refused its fields. */
  Body& Add(Bytes record);
  /* The next record starts a further item (for bodies spanning items). */
  Body& NewItem();

  bool ok() const { return ok_; }
  const std::vector<Bytes>& records() const { return records_; }

  /* Every record, each odd one followed by a 0 pad byte. */
  Bytes RecordBytes() const;
  /* The records of each item, without the type word: a further item is
   * started where NewItem asked for one, and before an item would hold more
   * than split bytes of records (padded). */
  std::vector<Bytes> Items(DWORD split = kItemSplit) const;
  /* A CD file: the type word 1, then the records. */
  Bytes FileContent() const;
  bool WriteFile(const std::string& path) const;
  /* Appends the items as TYPE_COMPOSITE items of the name to the note; the
   * first failing append's status. */
  STATUS AppendItems(NOTEHANDLE note, const char* name) const;

private:
  std::vector<Bytes> records_;
  std::vector<size_t> item_starts_; /* records that start a further item */
  bool ok_ = true;
};

} // namespace cdbuild

#endif
