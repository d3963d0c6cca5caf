/*
 * The byte-level record builder: each maker lays its record out at the
 * stored offsets written next to it, little-endian, without help from the
 * host's structure conversion or the engine's record code.
 */
#include "cdbuild/cd_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/nsfnote.h"

namespace cdbuild {

namespace {

constexpr DWORD kNoteLinkSize = 40;
constexpr size_t kMaxTabs = 20;

void PutByte(Bytes& bytes, size_t at, BYTE value) { bytes[at] = value; }

void PutFont(Bytes& bytes, size_t at, const Font& font) {
  bytes[at] = font.face;
  bytes[at + 1] = font.attributes;
  bytes[at + 2] = font.color;
  bytes[at + 3] = font.size;
}

/* A stored colour value: flags word, red, green, blue, a zero byte. */
void PutColor(Bytes& bytes, size_t at, const ColorValue& color) {
  PutWord(bytes, at, color.flags);
  bytes[at + 2] = color.red;
  bytes[at + 3] = color.green;
  bytes[at + 4] = color.blue;
  bytes[at + 5] = 0;
}

/* Grows the buffer first and copies into it: appending with insert, GCC 12
 * sees a copy past the end of the small buffers it inlines into. */
template <typename Range> void AppendRange(Bytes& bytes, const Range& range) {
  const size_t at = bytes.size();
  bytes.resize(at + range.size());
  std::copy(range.begin(), range.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

void Append(Bytes& bytes, std::string_view text) { AppendRange(bytes, text); }

WORD TextLength(std::string_view text) { return static_cast<WORD>(text.size()); }

/* Size of a stored header of the form. */
size_t HeaderSizeOfForm(cd_header_kind form) {
  switch (form) {
  case CD_HEADER_LSIG:
    return LSIG_STORED_HEADER_SIZE;
  case CD_HEADER_WSIG:
    return WSIG_HEADER_SIZE;
  case CD_HEADER_BSIG:
    break;
  }
  return BSIG_HEADER_SIZE;
}

/* The stored header of the form: BSIG = signature byte, length byte; WSIG =
 * signature word, length word; LSIG = signature byte, 0x00, length double
 * word. The length must fit the form. */
void PutHeader(Bytes& record, cd_header_kind form, WORD signature, DWORD length) {
  switch (form) {
  case CD_HEADER_BSIG:
    PutByte(record, 0, static_cast<BYTE>(signature));
    PutByte(record, 1, static_cast<BYTE>(length));
    break;
  case CD_HEADER_WSIG:
    PutWord(record, 0, signature);
    PutWord(record, 2, static_cast<WORD>(length));
    break;
  case CD_HEADER_LSIG:
    PutByte(record, 0, static_cast<BYTE>(signature));
    PutByte(record, 1, 0x00);
    PutDword(record, 2, length);
    break;
  }
}

/* True when the form's length field can carry the length. */
bool FitsForm(cd_header_kind form, size_t length) {
  if (form == CD_HEADER_BSIG)
    return length <= kLargestBsigLength;
  if (form == CD_HEADER_WSIG)
    return length <= kLargestWsigLength;
  return length <= 0xFFFFFFFFu;
}

/* Size of the stored header that the record's second byte announces. */
size_t StoredHeaderSize(const Bytes& record) {
  return HeaderSizeOfForm(HeaderKindOfSecondByte(record[1]));
}

} // namespace

/* ---- headers ---- */

void PutWord(Bytes& bytes, size_t at, WORD value) {
  bytes[at] = static_cast<BYTE>(value);
  bytes[at + 1] = static_cast<BYTE>(value >> 8);
}

void PutDword(Bytes& bytes, size_t at, DWORD value) {
  for (int shift = 0; shift < 4; ++shift)
    bytes[at + shift] = static_cast<BYTE>(value >> (8 * shift));
}

bool IsListSignature(WORD signature) {
  const WORD high = signature & 0xFF00;
  return high == 0x0000 || high == 0xFF00;
}

Bytes Record(WORD signature, const Bytes& body) {
  if (!IsListSignature(signature))
    return {};
  const cd_header_kind form = HeaderKindOfSignature(signature);
  const size_t header = HeaderSizeOfForm(form);
  const size_t length = header + body.size();
  if (!FitsForm(form, length))
    return {};
  Bytes record(header);
  record.insert(record.end(), body.begin(), body.end());
  PutHeader(record, form, signature, static_cast<DWORD>(length));
  return record;
}

Bytes SizedAs(cd_header_kind form, WORD signature, DWORD length, Fill fill) {
  const size_t header = HeaderSizeOfForm(form);
  if (!IsListSignature(signature) || length < header || !FitsForm(form, length))
    return {};
  Bytes record(length);
  if (fill == Fill::kPattern) {
    for (size_t at = header; at < record.size(); ++at)
      record[at] = static_cast<BYTE>(at * 7 + 1);
  }
  PutHeader(record, form, signature, length);
  return record;
}

Bytes Sized(WORD signature, DWORD length, Fill fill) {
  return SizedAs(HeaderKindOfSignature(signature), signature, length, fill);
}

Bytes WithHeaderLength(Bytes record, DWORD length) {
  if (record.size() < BSIG_HEADER_SIZE || record.size() < StoredHeaderSize(record))
    return {};
  switch (HeaderKindOfSecondByte(record[1])) {
  case CD_HEADER_BSIG:
    if (length == 0 || length > kLargestBsigLength)
      return {};
    PutByte(record, 1, static_cast<BYTE>(length));
    break;
  case CD_HEADER_WSIG:
    if (length > kLargestWsigLength)
      return {};
    PutWord(record, 2, static_cast<WORD>(length));
    break;
  case CD_HEADER_LSIG:
    PutDword(record, 2, length);
    break;
  }
  return record;
}

Bytes WithTail(Bytes record, const Bytes& tail) {
  if (record.size() < BSIG_HEADER_SIZE || record.size() < StoredHeaderSize(record))
    return {};
  record.insert(record.end(), tail.begin(), tail.end());
  if (record.size() > 0xFFFFFFFFu)
    return {};
  const auto length = static_cast<DWORD>(record.size());
  return WithHeaderLength(std::move(record), length);
}

std::optional<Bytes> ParseHex(std::string_view text) {
  Bytes bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ':' || c == ',') {
      if (high >= 0)
        return std::nullopt; // a byte split by a separator
      continue;
    }
    int digit = -1;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    if (digit < 0)
      return std::nullopt;
    if (high < 0) {
      high = digit;
      continue;
    }
    bytes.push_back(static_cast<BYTE>(high * 16 + digit));
    high = -1;
  }
  if (high >= 0)
    return std::nullopt;
  return bytes;
}

/* ---- record kinds ---- */

FONTID FontId(const Font& font) {
  Bytes bytes(sizeof(FONTID));
  PutFont(bytes, 0, font);
  FONTID id = 0;
  std::memcpy(&id, bytes.data(), sizeof id);
  return id;
}

/* CDTEXT, WSIG: 4 FONTID (face, attributes, colour, size), 8 text. */
Bytes Text(const TextFields& fields) {
  Bytes body(4);
  PutFont(body, 0, fields.font);
  Append(body, fields.text);
  return Record(fields.signature, body);
}

Bytes Text(std::string_view text, Font font) {
  return Text(TextFields{font, std::string(text), SIG_CD_TEXT});
}

/* CDPABDEFINITION, WSIG, 70 bytes: 4 id, 6 justify, 8 line spacing,
 * 10 spacing before, 12 after, 14 left, 16 right, 18 first line, 20 tab
 * count, 22 twenty tab positions, 62 flags, 64 tab types (double word),
 * 68 flags2. Then 70 six extension words, 82 ext flags, 86 flags3. */
Bytes PabDef(const PabDefFields& fields) {
  if (fields.tabs.size() > kMaxTabs)
    return {};
  const bool ext = fields.extension || fields.ext_flags || fields.flags3;
  const size_t length = 70 + (ext ? 12 : 0) + (fields.ext_flags || fields.flags3 ? 4 : 0) +
                        (fields.flags3 ? 4 : 0);
  Bytes record(length);
  PutWord(record, 0, SIG_CD_PABDEFINITION);
  PutWord(record, 2, static_cast<WORD>(length));
  PutWord(record, 4, fields.id);
  PutWord(record, 6, fields.justify);
  PutWord(record, 8, fields.line_spacing);
  PutWord(record, 10, fields.spacing_before);
  PutWord(record, 12, fields.spacing_after);
  PutWord(record, 14, fields.left);
  PutWord(record, 16, fields.right);
  PutWord(record, 18, fields.first_line.value_or(fields.left));
  PutWord(record, 20, fields.tab_count.value_or(static_cast<WORD>(fields.tabs.size())));
  for (size_t tab = 0; tab < fields.tabs.size(); ++tab)
    PutWord(record, 22 + 2 * tab, static_cast<WORD>(fields.tabs[tab]));
  PutWord(record, 62, fields.flags);
  PutDword(record, 64, fields.tab_types);
  PutWord(record, 68, fields.flags2);
  if (fields.extension) {
    for (size_t word = 0; word < 6; ++word)
      PutWord(record, 70 + 2 * word, (*fields.extension)[word]);
  }
  if (fields.ext_flags || fields.flags3)
    PutDword(record, 82, fields.ext_flags.value_or(0x1));
  if (fields.flags3)
    PutDword(record, 86, *fields.flags3);
  return record;
}

/* CDPABREFERENCE, BSIG: 2 id. */
Bytes PabRef(WORD id) {
  Bytes body(2);
  PutWord(body, 0, id);
  return Record(SIG_CD_PABREFERENCE, body);
}

/* CDPARAGRAPH, BSIG: the header alone. */
Bytes Paragraph() { return Record(SIG_CD_PARAGRAPH, {}); }

namespace {

/* CDBEGINRECORD and CDENDRECORD, BSIG: 2 version, 4 bracketed signature. */
Bytes Bracket(WORD signature, WORD bracketed, WORD version) {
  Bytes body(4);
  PutWord(body, 0, version);
  PutWord(body, 2, bracketed);
  return Record(signature, body);
}

} // namespace

Bytes Begin(WORD bracketed, WORD version) { return Bracket(SIG_CD_BEGIN, bracketed, version); }
Bytes End(WORD bracketed, WORD version) { return Bracket(SIG_CD_END, bracketed, version); }

/* CDTABLEBEGIN, BSIG, 14 bytes: 2 left margin, 4 reserved, 8 horizontal
 * and 10 vertical inter-cell space, 12 flags. */
Bytes TableBegin(const TableBeginFields& fields) {
  Bytes body(12);
  PutWord(body, 0, fields.left);
  PutWord(body, 2, fields.words[0]);
  PutWord(body, 4, fields.words[1]);
  PutWord(body, 6, fields.horizontal_space);
  PutWord(body, 8, fields.vertical_space);
  PutWord(body, 10, fields.flags);
  return Record(fields.nested ? SIG_CD_NESTEDTABLEBEGIN : SIG_CD_TABLEBEGIN, body);
}

/* CDTABLECELL, BSIG, 18 bytes: 2 row, 3 column, 4 left, 6 right, 8
 * reserved, 10 border widths, 11 flags, 12 V4.2 borders, 14 row span, 15
 * column span, 16 background colour. */
Bytes TableCell(const TableCellFields& fields) {
  const WORD left = fields.left.value_or(static_cast<WORD>(fields.column * 1440));
  const WORD right = fields.right.value_or(static_cast<WORD>(left + 1440));
  Bytes body(16);
  PutByte(body, 0, fields.row);
  PutByte(body, 1, fields.column);
  PutWord(body, 2, left);
  PutWord(body, 4, right);
  PutWord(body, 6, fields.fraction);
  PutByte(body, 8, fields.borders);
  PutByte(body, 9, fields.flags);
  PutWord(body, 10, fields.v42_border);
  PutByte(body, 12, fields.row_span);
  PutByte(body, 13, fields.column_span);
  PutWord(body, 14, fields.background);
  return Record(fields.nested ? SIG_CD_NESTEDTABLECELL : SIG_CD_TABLECELL, body);
}

/* CDTABLEEND, BSIG, 8 bytes: 6 reserved. */
Bytes TableEnd(bool nested) {
  return Record(nested ? SIG_CD_NESTEDTABLEEND : SIG_CD_TABLEEND, Bytes(6));
}

/* CDPRETABLEBEGIN, WSIG, 48 bytes: 4 flags (double word), 8 reserved, 20
 * row display, 22 minimum row height, 28 body colour, 32 table colour, 36
 * cell border colour value, 42 name length, 44 reserved; 48 the name. */
Bytes PreTableBegin(const PreTableFields& fields) {
  Bytes body(44);
  PutDword(body, 0, fields.flags);
  PutByte(body, 4, fields.rows);
  PutByte(body, 5, fields.columns);
  PutDword(body, 8, fields.column_sizing);
  PutByte(body, 16, fields.row_display);
  PutWord(body, 18, fields.min_row_height);
  PutDword(body, 24, fields.body_color);
  PutDword(body, 28, fields.table_color);
  PutColor(body, 32, fields.cell_border_color);
  PutWord(body, 38, TextLength(fields.name));
  Append(body, fields.name);
  return Record(SIG_CD_PRETABLEBEGIN, body);
}

/* CDFIELD, WSIG, 40 bytes: 4 flags, 6 data type, 8 list delimiter, 10 to 19
 * number and time formats (0), 20 FONTID, 24 default-value formula length,
 * 26 input-translation formula length, 28 tab order, 30 validation formula
 * length, 32 name length, 34 description length, 36 text-values length, 38
 * reserved; then the three formulas, the name, the description and the
 * text values. */
Bytes Field(const FieldFields& fields) {
  Bytes body(36);
  PutWord(body, 0, fields.flags);
  PutWord(body, 2, fields.data_type);
  PutWord(body, 4, fields.list_delimiter);
  PutFont(body, 16, fields.font);
  PutWord(body, 20, TextLength(fields.default_formula));
  PutWord(body, 22, TextLength(fields.translation_formula));
  PutWord(body, 24, fields.tab_order);
  PutWord(body, 26, TextLength(fields.validation_formula));
  PutWord(body, 28, TextLength(fields.name));
  PutWord(body, 30, TextLength(fields.description));
  PutWord(body, 32, TextLength(fields.text_values));
  for (const std::string* part : {&fields.default_formula, &fields.translation_formula,
                                  &fields.validation_formula, &fields.name, &fields.description,
                                  &fields.text_values})
    Append(body, *part);
  return Record(SIG_CD_FIELD, body);
}

/* CDHTMLBEGIN and CDHTMLEND, WSIG, 8 bytes: 4 reserved. */
Bytes HtmlBegin() { return Record(SIG_CD_HTMLBEGIN, Bytes(4)); }
Bytes HtmlEnd() { return Record(SIG_CD_HTMLEND, Bytes(4)); }

/* CDCOLOR, BSIG, 8 bytes: 2 colour value; 8 a second (gradient) one. */
Bytes Color(const ColorFields& fields) {
  Bytes body(fields.gradient ? 12 : 6);
  PutColor(body, 0, fields.color);
  if (fields.gradient)
    PutColor(body, 6, *fields.gradient);
  return Record(SIG_CD_COLOR, body);
}

/* CDHOTSPOTBEGIN, WSIG, 16 bytes: 4 type, 6 reserved, 8 flags (double
 * word), 12 data length, 14 reserved; 16 the data. */
Bytes HotspotBegin(const HotspotFields& fields) {
  Bytes body(12);
  PutWord(body, 0, fields.type);
  PutDword(body, 4, fields.flags);
  PutWord(body, 8, TextLength(fields.data));
  Append(body, fields.data);
  return Record(fields.signature, body);
}

/* CDHOTSPOTEND, BSIG: the header alone. */
Bytes HotspotEnd(WORD signature) { return Record(signature, {}); }

/* CDLINK2, WSIG, 6 bytes: 4 link index. */
Bytes Link(WORD linkID) {
  Bytes body(2);
  PutWord(body, 0, linkID);
  return Record(SIG_CD_LINK, body);
}

/* CDLINKEXPORT2, WSIG, 44 bytes: 4 the note link; 44 its texts. */
Bytes DocLink(const Bytes& noteLink, const Bytes& texts) {
  if (noteLink.size() > kNoteLinkSize)
    return {};
  Bytes body(kNoteLinkSize);
  std::copy(noteLink.begin(), noteLink.end(), body.begin());
  AppendRange(body, texts);
  return Record(SIG_CD_DOCLINK, body);
}

Bytes Raw(WORD signature, const Bytes& payload) { return Record(signature, payload); }

/* CDANCHOR, WSIG, 12 bytes: 4 name length, 6 reserved; 12 the name. */
Bytes Anchor(std::string_view name) {
  Bytes body(8);
  PutWord(body, 0, TextLength(name));
  Append(body, name);
  return Record(SIG_CD_ANCHOR, body);
}

/* CDBUTTON, WSIG, 16 bytes: 4 flags, 6 width, 8 reserved, 12 FONTID; 16
 * the label. */
Bytes Button(const ButtonFields& fields) {
  Bytes body(12);
  PutWord(body, 0, fields.flags);
  PutWord(body, 2, fields.width);
  PutFont(body, 8, fields.font);
  Append(body, fields.label);
  return Record(SIG_CD_BUTTON, body);
}

/* CDBAR, WSIG, 12 bytes: 4 flags (double word), 8 FONTID; 12 the colour
 * word, 14 the title. */
Bytes SectionBar(const SectionBarFields& fields) {
  Bytes body(10);
  PutDword(body, 0, fields.flags);
  PutFont(body, 4, fields.font);
  PutWord(body, 8, fields.color);
  Append(body, fields.title);
  return Record(SIG_CD_SECTIONBAR, body);
}

/* CDIDNAME, WSIG, 26 bytes: 4 id length, 6 class length, 8 style length,
 * 10 title length, 12 extra length, 14 name length, 16 reserved; 26 the
 * six texts in that order. */
Bytes IdName(const IdNameFields& fields) {
  Bytes body(22);
  const std::string* parts[] = {&fields.id,    &fields.class_name, &fields.style,
                                &fields.title, &fields.extra,      &fields.name};
  for (size_t part = 0; part < 6; ++part)
    PutWord(body, 2 * part, TextLength(*parts[part]));
  for (const std::string* part : parts)
    Append(body, *part);
  return Record(fields.signature, body);
}

/* CDPABHIDE, WSIG, 14 bytes: 4 PABID, 6 reserved; 14 the formula. */
Bytes PabHide(WORD pabid, std::string_view formula) {
  Bytes body(10);
  PutWord(body, 0, pabid);
  Append(body, formula);
  return Record(SIG_CD_PABHIDE, body);
}

/* 0 'F', 1 'M', 2 version 1, 4 the source length, 8 the source. */
Bytes CompiledFormula(std::string_view source) {
  Bytes bytes{'F', 'M', 0x01, 0x00};
  bytes.resize(8);
  PutDword(bytes, 4, static_cast<DWORD>(source.size()));
  Append(bytes, source);
  return bytes;
}

/* CDSTYLENAME, BSIG, 48 bytes: 2 reserved, 8 PABID, 10 the name (36 bytes,
 * NUL-terminated), 46 reserved. */
Bytes StyleName(WORD pabid, std::string_view name) {
  constexpr size_t kNameField = 36;
  if (name.size() >= kNameField)
    return {};
  Bytes body(46);
  PutWord(body, 6, pabid);
  std::copy(name.begin(), name.end(), body.begin() + 8);
  return Record(SIG_CD_STYLENAME, body);
}

/* CDTARGET, WSIG, 12 bytes: 4 target length, 6 reserved; 12 the frame. */
Bytes Target(std::string_view frame) {
  Bytes body(8);
  PutWord(body, 0, TextLength(frame));
  Append(body, frame);
  return Record(SIG_CD_TARGET, body);
}

/* CDTABLELABEL, WSIG, 140 bytes: 4 the label (128 bytes, NUL-terminated),
 * 132 reserved, 138 flags. */
Bytes TableLabel(std::string_view label, WORD flags) {
  constexpr size_t kLabelField = 128;
  if (label.size() >= kLabelField)
    return {};
  Bytes body(136);
  std::copy(label.begin(), label.end(), body.begin());
  PutWord(body, 134, flags);
  return Record(SIG_CD_TABLELABEL, body);
}

/* A layer: CDBEGIN and CDEND for 0x6C, version 2, around CDLAYER (BSIG,
 * 20 bytes, zero behind the header). */
Bytes LayerBegin() { return Begin(SIG_CD_LAYER, 2); }
Bytes Layer() { return Record(SIG_CD_LAYER, Bytes(18)); }
Bytes LayerEnd() { return End(SIG_CD_LAYER, 2); }

/* CDTABLEDATAEXTENSION, WSIG, 62 bytes: 12 tabs equal, 14 tab indent, 40
 * font part size (14), 48 FONTID, 56 COLOR_VALUE. */
Bytes DataExtension(const DataExtensionFields& fields) {
  Bytes body(58);
  PutWord(body, 8, fields.tabs_equal);
  PutWord(body, 10, fields.tab_indent);
  PutWord(body, 36, 14);
  PutFont(body, 44, fields.font);
  PutColor(body, 52, fields.color);
  return Record(SIG_CD_TABLEDATAEXTENSION, body);
}

/* CDBORDERINFO, WSIG, 60 bytes: 8 style, 10 top, 12 left, 14 bottom, 16
 * right, 24 flags, 26 drop-shadow width, 44 COLOR_VALUE. */
Bytes BorderInfo(const BorderInfoFields& fields) {
  Bytes body(56);
  PutWord(body, 4, fields.style);
  for (size_t side = 0; side < 4; ++side)
    PutWord(body, 6 + 2 * side, fields.widths[side]);
  PutWord(body, 20, fields.flags);
  PutWord(body, 22, fields.shadow);
  PutColor(body, 40, fields.color);
  return Record(SIG_CD_BORDERINFO, body);
}

/* CDTIMERINFO, BSIG, 16 bytes: 4 milliseconds. Row height, BSIG, 4 bytes:
 * 2 twips. */
Bytes TimerInfo(DWORD milliseconds) {
  Bytes body(14);
  PutDword(body, 2, milliseconds);
  return Record(SIG_CD_TIMERINFO, body);
}

Bytes RowHeight(WORD twips) {
  Bytes body(2);
  PutWord(body, 0, twips);
  return Record(SIG_CD_ROWHEIGHT, body);
}

namespace {

/* A LENGTH_VALUE, 16 bytes: 0 flags, 4 the double, 12 units. */
void PutLength(Bytes& bytes, size_t at, const LengthValue& value) {
  PutWord(bytes, at, value.flags);
  std::memcpy(bytes.data() + at + 4, &value.length, sizeof value.length);
  PutByte(bytes, at + 12, value.units);
}

} // namespace

/* CDPOSITIONING, BSIG, 88 bytes: 2 scheme, 4 z-index, 8 top, 24 left, 40
 * bottom, 56 right, 72 and 80 the browser offsets. */
Bytes Positioning(const PositioningFields& fields) {
  Bytes body(86);
  PutByte(body, 0, fields.scheme);
  PutDword(body, 2, static_cast<DWORD>(fields.z_index));
  PutLength(body, 6, fields.top);
  PutLength(body, 22, fields.left);
  PutLength(body, 38, fields.bottom);
  PutLength(body, 54, fields.right);
  std::memcpy(body.data() + 70, &fields.browser_left, sizeof(double));
  std::memcpy(body.data() + 78, &fields.browser_right, sizeof(double));
  return Record(SIG_CD_POSITIONING, body);
}

/* CDBOXSIZE, BSIG, 116 bytes: 4 width, 20 height. */
Bytes BoxSize(const LengthValue& width, const LengthValue& height) {
  Bytes body(114);
  PutLength(body, 2, width);
  PutLength(body, 18, height);
  return Record(SIG_CD_BOXSIZE, body);
}

/* CDBACKGROUNDPROPERTIES, BSIG, 52 bytes: 2 repeat mode. */
Bytes BackgroundProperties(BYTE repeat) {
  Bytes body(50);
  PutByte(body, 0, repeat);
  return Record(SIG_CD_LAYERBACKGROUND, body);
}

/* The tab of a section's bar, BSIG, 16 bytes: 2 version (1), 4 width
 * (128), 12 kind. */
Bytes BarTab(DWORD kind) {
  Bytes body(14);
  PutWord(body, 0, 1);
  PutWord(body, 2, 128);
  PutDword(body, 10, kind);
  return Record(SIG_CD_TABRECORD, body);
}


/* ---- graphics, file data and resources ----
 *
 * Double-word-length records: every offset below is the stored one, 2
 * bytes below the host form's (which keeps two pad bytes after the
 * signature). */

namespace {

WORD EvenLength(size_t length) { return static_cast<WORD>(length + length % 2); }

/* A segment record: its fixed part, the data's length at `sizeAt`, the
 * segment size (the length made even) behind it, then the data. */
Bytes Segment(WORD signature, size_t fixed, size_t sizeAt, const Bytes& data) {
  if (data.size() > 0xFFFF)
    return {};
  Bytes body(fixed);
  PutWord(body, sizeAt, static_cast<WORD>(data.size()));
  PutWord(body, sizeAt + 2, EvenLength(data.size()));
  AppendRange(body, data);
  return Record(signature, body);
}

} // namespace

/* CDGRAPHIC, LSIG, 30 bytes: 6 destination width, 8 height, 10 crop size
 * and offsets (12 bytes), 22 resize flag, 24 version, 25 flags, 26
 * reserved (4). */
Bytes Graphic(const GraphicFields& fields) {
  Bytes body(24);
  PutWord(body, 0, fields.dest_width);
  PutWord(body, 2, fields.dest_height);
  PutWord(body, 16, fields.resize);
  PutByte(body, 18, fields.version);
  PutByte(body, 19, fields.flags);
  return Record(SIG_CD_GRAPHIC, body);
}

/* CDIMAGEHEADER, LSIG, 30 bytes: 6 image type, 8 width, 10 height, 12
 * reserved, 14 image data size (double word), 18 segment count (double
 * word), 22 reserved (8). */
Bytes ImageHeader(const ImageHeaderFields& fields) {
  Bytes body(24);
  PutWord(body, 0, fields.image_type);
  PutWord(body, 2, fields.width);
  PutWord(body, 4, fields.height);
  PutDword(body, 8, fields.data_size);
  PutDword(body, 12, fields.segment_count);
  return Record(SIG_CD_IMAGEHEADER, body);
}

/* CDIMAGESEGMENT, LSIG, 10 bytes: 6 data size, 8 segment size; 10 the
 * data. */
Bytes ImageSegment(const Bytes& data) { return Segment(SIG_CD_IMAGESEGMENT, 4, 0, data); }

/* CDBITMAPHEADER, LSIG, 38 bytes: 6 destination width, 8 height, 10 crop
 * size, 14 flags, 16 reserved (6), 22 width, 24 height, 26 bits per pixel,
 * 28 samples per pixel, 30 bits per sample, 32 segment count, 34 colour
 * count, 36 pattern count. */
Bytes BitmapHeader(const BitmapHeaderFields& fields) {
  Bytes body(32);
  PutWord(body, 0, fields.dest_width);
  PutWord(body, 2, fields.dest_height);
  PutWord(body, 16, fields.width);
  PutWord(body, 18, fields.height);
  PutWord(body, 20, fields.bits_per_pixel);
  PutWord(body, 22, fields.samples_per_pixel);
  if (fields.samples_per_pixel != 0)
    PutWord(body, 24, static_cast<WORD>(fields.bits_per_pixel / fields.samples_per_pixel));
  PutWord(body, 26, fields.segment_count);
  return Record(SIG_CD_BITMAPHEADER, body);
}

/* The bitmap segment, LSIG, 18 bytes: 6 reserved (8), 14 scan-line count,
 * 16 data size; 18 the data. */
Bytes BitmapSegment(const Bytes& data, WORD scanlines) {
  if (data.size() > 0xFFFF)
    return {};
  Bytes body(12);
  PutWord(body, 8, scanlines);
  PutWord(body, 10, static_cast<WORD>(data.size()));
  AppendRange(body, data);
  return Record(SIG_CD_BITMAPSEGMENT, body);
}

/* CDFILEHEADER, LSIG, 26 bytes: 6 extension length, 8 reserved, 10 file
 * data size (double word), 14 segment count (double word), 18 flags
 * (double word), 22 reserved (4); 26 the extension. */
Bytes FileHeader(const FileHeaderFields& fields) {
  Bytes body(20);
  PutWord(body, 0, TextLength(fields.extension));
  PutDword(body, 4, fields.data_size);
  PutDword(body, 8, fields.segment_count);
  PutDword(body, 12, fields.flags);
  Append(body, fields.extension);
  return Record(SIG_CD_FILEHEADER, body);
}

/* CDFILESEGMENT, LSIG, 18 bytes: 6 data size, 8 segment size, 10 reserved
 * (8); 18 the data. */
Bytes FileSegment(const Bytes& data) { return Segment(SIG_CD_FILESEGMENT, 12, 0, data); }

/* CDSTORAGELINK, WSIG, 24 bytes: 4 storage type, 6 load type, 8 reserved,
 * 10 reference length, 12 reserved (12); 24 the reference. */
Bytes StorageLink(const StorageLinkFields& fields) {
  Bytes body(20);
  PutWord(body, 0, fields.storage_type);
  PutWord(body, 2, fields.load_type);
  PutWord(body, 6, TextLength(fields.reference));
  Append(body, fields.reference);
  return Record(SIG_CD_STORAGELINK, body);
}

/* CDRESOURCE, WSIG, 26 bytes: 4 flags (double word), 8 type, 10 class, 12
 * name length, 14 server hint length, 16 file hint length, 18 reserved (8);
 * 26 the server hint, the file hint, the link, the name. */
Bytes Resource(const ResourceFields& fields) {
  Bytes body(22);
  PutDword(body, 0, fields.flags);
  PutWord(body, 4, fields.type);
  PutWord(body, 6, fields.resource_class);
  PutWord(body, 8, TextLength(fields.name));
  PutWord(body, 10, TextLength(fields.server_hint));
  PutWord(body, 12, TextLength(fields.file_hint));
  Append(body, fields.server_hint);
  Append(body, fields.file_hint);
  AppendRange(body, fields.link);
  Append(body, fields.name);
  return Record(fields.signature, body);
}

/* ---- image attributes, embedded controls and image maps ---- */

/* CDALTTEXT, WSIG, 12 bytes: 4 text length, 6 reserved; 12 the text. */
Bytes AltText(std::string_view text) {
  Bytes body(8);
  PutWord(body, 0, TextLength(text));
  Append(body, text);
  return Record(SIG_CD_ALTTEXT, body);
}

/* CDCAPTION, WSIG, 32 bytes: 4 text length, 6 position, 8 FONTID, 12
 * colour value, 18 reserved; 32 the text. */
Bytes Caption(const CaptionFields& fields) {
  Bytes body(28);
  PutWord(body, 0, TextLength(fields.text));
  PutByte(body, 2, fields.position);
  PutFont(body, 4, fields.font);
  PutColor(body, 8, fields.color);
  Append(body, fields.text);
  return Record(SIG_CD_CAPTION, body);
}

/* CDBORDERINFO, WSIG, 60 bytes: 8 style, 10 top, 12 left, 14 bottom, 16
 * right width. */
Bytes BorderInfo(WORD style, WORD width) {
  Bytes body(56);
  PutWord(body, 4, style);
  for (size_t side = 0; side < 4; ++side)
    PutWord(body, 6 + 2 * side, width);
  return Record(SIG_CD_BORDERINFO, body);
}

/* CDFLOAT and CDVERTICALALIGN, BSIG, 4 bytes: 2 the value. */
Bytes Float(WORD side) {
  Bytes body(2);
  PutWord(body, 0, side);
  return Record(SIG_CD_FLOAT, body);
}
Bytes VerticalAlign(WORD alignment) {
  Bytes body(2);
  PutWord(body, 0, alignment);
  return Record(SIG_CD_VERTICALALIGN, body);
}

/* 0xFFEE, WSIG, 12 bytes: 4 the repeat mode (a byte). */
Bytes BackgroundRepeat(BYTE mode) {
  Bytes body(8);
  PutByte(body, 0, mode);
  return Record(SIG_CD_BACKGROUNDREPEAT, body);
}

/* CDEMBEDDEDCONTROL, WSIG, 64 bytes: 4 type, 8 flags (double word), 12
 * width, 14 height, 16 text FONTID, 28 and 32 the sub FONTIDs, 38 and 44
 * two colour values. */
Bytes EmbeddedControl(const EmbeddedControlFields& fields) {
  Bytes body(60);
  PutWord(body, 0, fields.type);
  PutDword(body, 4, fields.flags);
  PutWord(body, 8, fields.width);
  PutWord(body, 10, fields.height);
  PutFont(body, 12, fields.text_font);
  PutFont(body, 24, fields.first_sub_font);
  PutFont(body, 28, fields.second_sub_font);
  PutColor(body, 34, fields.colors[0]);
  PutColor(body, 40, fields.colors[1]);
  return Record(SIG_CD_EMBEDDEDCONTROL, body);
}

/* CDMAPELEMENT, WSIG, 36 bytes: 8 map name length, 10 to 16 the last
 * region ids of default, rectangle, circle and polygon areas. */
Bytes MapElement(const MapElementFields& fields) {
  Bytes body(32);
  PutWord(body, 6, fields.last_default);
  PutWord(body, 8, fields.last_rectangle);
  PutWord(body, 10, fields.last_circle);
  PutWord(body, 12, fields.last_polygon);
  return Record(SIG_CD_MAPELEMENT, body);
}

/* CDAREAELEMENT, WSIG, 32 bytes: 8 shape, 10 tab index; 32 the
 * coordinates. */
Bytes AreaElement(WORD shape, WORD tabIndex, const Bytes& coordinates) {
  Bytes body(28);
  PutWord(body, 4, shape);
  PutWord(body, 6, tabIndex);
  AppendRange(body, coordinates);
  return Record(SIG_CD_AREAELEMENT, body);
}

/* CDEVENT, WSIG, 32 bytes: 8 event type, 10 action type, 12 action length
 * (double word); 32 the action, when it is held here. */
Bytes Event(const EventFields& fields) {
  Bytes body(28);
  PutWord(body, 4, fields.event_type);
  PutWord(body, 6, fields.action_type);
  PutDword(body, 8, fields.action_length);
  AppendRange(body, fields.action);
  return Record(fields.signature, body);
}

/* CDBLOBPART, WSIG, 18 bytes: 4 owner signature, 6 data length, 8 the
 * largest part; 18 the data. */
Bytes BlobPart(WORD signature, WORD owner, WORD maximum, const Bytes& data) {
  Bytes body(14);
  PutWord(body, 0, owner);
  PutWord(body, 2, static_cast<WORD>(data.size()));
  PutWord(body, 4, maximum);
  AppendRange(body, data);
  return Record(signature, body);
}

/* ---- links, fields and events ---- */

Bytes NoteLink(const std::array<DWORD, 2>& replica, const std::array<DWORD, 4>& view,
               const std::array<DWORD, 4>& note) {
  Bytes link(kNoteLinkSize);
  size_t at = 0;
  for (DWORD word : replica) {
    PutDword(link, at, word);
    at += 4;
  }
  for (DWORD word : view) {
    PutDword(link, at, word);
    at += 4;
  }
  for (DWORD word : note) {
    PutDword(link, at, word);
    at += 4;
  }
  return link;
}

/* CDEXTFIELD, WSIG, 20 bytes: 4 first flags, 8 second flags, 12 reserved. */
Bytes ExtField(DWORD flags1, DWORD flags2) {
  Bytes body(16);
  PutDword(body, 0, flags1);
  PutDword(body, 4, flags2);
  return Record(SIG_CD_EXTFIELD, body);
}

/* CDEXT2FIELD, WSIG, 88 bytes: 4 flags, 8 currency flags, 40 country, 44
 * the six date and time format bytes, 50 their flag word. */
Bytes Ext2Field(const Ext2FieldFields& fields) {
  Bytes body(84);
  PutDword(body, 0, fields.flags);
  PutDword(body, 4, fields.currency_flags);
  PutDword(body, 36, fields.country);
  std::copy(fields.date_time.begin(), fields.date_time.end(), body.begin() + 40);
  PutWord(body, 46, fields.date_time_flags);
  return Record(SIG_CD_EXT2FIELD, body);
}

/* A field's embedded control 0xFFF7, WSIG, 36 bytes: 4 flags, 8 reserved. */
Bytes FieldControl(DWORD flags) {
  Bytes body(32);
  PutDword(body, 0, flags);
  return Record(SIG_CD_EMBEDDEDCTL, body);
}

Bytes OleObject(std::string_view name, int nameLength) {
  Bytes body(16);
  PutWord(body, 10, static_cast<WORD>(nameLength < 0 ? name.size() : nameLength));
  Append(body, name);
  return Record(SIG_CD_OLEBEGIN, body);
}

Bytes FontTable(const std::vector<FontFace>& faces) {
  constexpr size_t kNameSize = 32;
  Bytes body(2);
  PutWord(body, 0, static_cast<WORD>(faces.size()));
  for (const FontFace& face : faces) {
    body.push_back(face.id);
    body.push_back(0);
    Bytes name(kNameSize, 0);
    std::copy_n(face.name.begin(), std::min(face.name.size(), kNameSize - 1), name.begin());
    AppendRange(body, name);
  }
  return Record(SIG_CD_FONTTABLE, body);
}

/* ---- record lists ---- */

Body& Body::Add(Bytes record) {
  if (record.empty()) {
    ok_ = false;
    return *this;
  }
  records_.push_back(std::move(record));
  return *this;
}

Body& Body::NewItem() {
  item_starts_.push_back(records_.size());
  return *this;
}

Bytes Body::RecordBytes() const {
  Bytes bytes;
  for (const Bytes& record : records_) {
    bytes.insert(bytes.end(), record.begin(), record.end());
    if (record.size() % 2 != 0)
      bytes.push_back(0);
  }
  return bytes;
}

std::vector<Bytes> Body::Items(DWORD split) const {
  std::vector<Bytes> items(1);
  for (size_t index = 0; index < records_.size(); ++index) {
    const Bytes& record = records_[index];
    const size_t padded = record.size() + record.size() % 2;
    const bool asked = std::find(item_starts_.begin(), item_starts_.end(), index) !=
                       item_starts_.end();
    Bytes& current = items.back();
    if (!current.empty() && (asked || current.size() + padded > split))
      items.emplace_back();
    items.back().insert(items.back().end(), record.begin(), record.end());
    if (record.size() % 2 != 0)
      items.back().push_back(0);
  }
  return items;
}

Bytes Body::FileContent() const {
  Bytes content(2);
  PutWord(content, 0, TYPE_COMPOSITE);
  const Bytes records = RecordBytes();
  content.insert(content.end(), records.begin(), records.end());
  return content;
}

bool Body::WriteFile(const std::string& path) const {
  const Bytes content = FileContent();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return false;
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

STATUS Body::AppendItems(NOTEHANDLE note, const char* name) const {
  const auto nameLength = static_cast<WORD>(std::strlen(name));
  for (const Bytes& item : Items()) {
    const STATUS status = NSFItemAppend(note, 0, name, nameLength, TYPE_COMPOSITE, item.data(),
                                        static_cast<DWORD>(item.size()));
    if (status != NOERROR)
      return status;
  }
  return NOERROR;
}

} // namespace cdbuild
