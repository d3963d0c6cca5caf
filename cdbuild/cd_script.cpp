/*
 * The record script's reader: splits a line into its mnemonic and fields,
 * reads each field's value by its kind, and hands the values to the record
 * builder. The language is described in cdbuild/cd_script.h.
 */
#include "cdbuild/cd_script.h"

#include <cctype>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace cdbuild {

namespace {

/* ---- tokens ---- */

struct Token {
  std::string name;  /* the mnemonic, or the field's name */
  std::string value; /* decoded when quoted */
  std::string raw;   /* the value as written, for messages */
  bool has_value = false;
  bool quoted = false;
  bool used = false;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

/* Reads a quoted text starting at the opening quote; at points behind the
 * closing quote afterwards. */
bool ReadQuoted(std::string_view line, size_t& at, std::string* text, std::string* error) {
  ++at;
  while (at < line.size()) {
    const char c = line[at++];
    if (c == '"')
      return true;
    if (c != '\\') {
      text->push_back(c);
      continue;
    }
    if (at >= line.size())
      break;
    const char escape = line[at++];
    switch (escape) {
    case '\\': text->push_back('\\'); break;
    case '"': text->push_back('"'); break;
    case 'n': text->push_back('\n'); break;
    case 'r': text->push_back('\r'); break;
    case 't': text->push_back('\t'); break;
    case '0': text->push_back('\0'); break;
    case 'x': {
      const int high = at < line.size() ? HexDigit(line[at]) : -1;
      const int low = at + 1 < line.size() ? HexDigit(line[at + 1]) : -1;
      if (high < 0 || low < 0) {
        *error = "\\x must be followed by two hex digits";
        return false;
      }
      text->push_back(static_cast<char>(high * 16 + low));
      at += 2;
      break;
    }
    default:
      *error = std::string("unknown escape '\\") + escape + "'";
      return false;
    }
  }
  *error = "unterminated text";
  return false;
}

/* One token: a bare word, or name=value with a bare or quoted value. */
bool ReadToken(std::string_view line, size_t& at, Token* token, std::string* error) {
  const size_t start = at;
  while (at < line.size() && !IsSpace(line[at]) && line[at] != '#' && line[at] != '=') {
    if (line[at] == '"') {
      *error = "a quoted text must be the value of a field";
      return false;
    }
    ++at;
  }
  token->name = std::string(line.substr(start, at - start));
  if (at >= line.size() || line[at] != '=')
    return true;
  if (token->name.empty()) {
    *error = "a field needs a name before '='";
    return false;
  }
  token->has_value = true;
  const size_t valueStart = ++at;
  if (at < line.size() && line[at] == '"') {
    token->quoted = true;
    if (!ReadQuoted(line, at, &token->value, error))
      return false;
    if (at < line.size() && !IsSpace(line[at]) && line[at] != '#') {
      *error = "a space must follow the quoted text of field '" + token->name + "'";
      return false;
    }
  } else {
    while (at < line.size() && !IsSpace(line[at]) && line[at] != '#') {
      if (line[at] == '"') {
        *error = "field '" + token->name + "': a quote inside a bare value";
        return false;
      }
      ++at;
    }
    token->value = std::string(line.substr(valueStart, at - valueStart));
  }
  token->raw = std::string(line.substr(valueStart, at - valueStart));
  return true;
}

bool Tokenize(std::string_view line, std::vector<Token>* tokens, std::string* error) {
  size_t at = 0;
  while (true) {
    while (at < line.size() && IsSpace(line[at]))
      ++at;
    if (at >= line.size() || line[at] == '#')
      return true;
    Token token;
    if (!ReadToken(line, at, &token, error))
      return false;
    tokens->push_back(std::move(token));
  }
}

/* ---- values ---- */

std::optional<uint64_t> ParseUnsigned(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty())
    return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0 || digit >= base)
      return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull)
      return std::nullopt;
  }
  return value;
}

std::optional<int64_t> ParseSigned(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative)
    text.remove_prefix(1);
  const std::optional<uint64_t> magnitude = ParseUnsigned(text);
  if (!magnitude)
    return std::nullopt;
  const auto value = static_cast<int64_t>(*magnitude);
  return negative ? -value : value;
}

std::vector<std::string_view> SplitOn(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos)
      return parts;
    start = end + 1;
  }
}

struct NamedValue {
  const char* name;
  DWORD value;
};

constexpr NamedValue kJustifications[] = {
    {"LEFT", 0}, {"RIGHT", 1}, {"FULL", 2}, {"CENTER", 3}, {"NONE", 4},
};

constexpr NamedValue kPaletteColors[] = {
    {"BLACK", 0}, {"WHITE", 1},   {"RED", 2},    {"GREEN", 3},
    {"BLUE", 4},  {"MAGENTA", 5}, {"YELLOW", 6}, {"CYAN", 7},
};

constexpr NamedValue kAttributeWords[] = {
    {"BOLD", 0x01},        {"ITALIC", 0x02},    {"UNDERLINE", 0x04},
    {"STRIKETHROUGH", 0x08}, {"SUPERSCRIPT", 0x10}, {"SUBSCRIPT", 0x20},
    {"SHADOW", 0x80},      {"EMBOSS", 0x90},    {"EXTRUDE", 0xA0},
};

constexpr NamedValue kBooleans[] = {
    {"YES", 1}, {"NO", 0}, {"TRUE", 1}, {"FALSE", 0}, {"1", 1}, {"0", 0},
};

template <size_t N>
std::optional<DWORD> LookUp(const NamedValue (&table)[N], std::string_view word) {
  const std::string upper = Upper(word);
  for (const NamedValue& entry : table) {
    if (upper == entry.name)
      return entry.value;
  }
  return std::nullopt;
}

template <size_t N>
std::string WordList(const NamedValue (&table)[N]) {
  std::string list;
  for (const NamedValue& entry : table) {
    if (!list.empty())
      list += ", ";
    for (const char* c = entry.name; *c != '\0'; ++c)
      list.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*c))));
  }
  return list;
}

/* A signature by number or by name ("CDTEXT" or "TEXT"). */
std::optional<WORD> SignatureByName(std::string_view text) {
  if (const std::optional<uint64_t> number = ParseUnsigned(text)) {
    if (*number > 0xFFFF || !IsListSignature(static_cast<WORD>(*number)))
      return std::nullopt;
    return static_cast<WORD>(*number);
  }
  const std::string upper = Upper(text);
  for (DWORD candidate = 0; candidate <= 0xFFFF; ++candidate) {
    if (candidate == 0x0100)
      candidate = 0xFF00; // names exist for 0x00nn and 0xFFnn only
    const char* name = CDSignatureName(static_cast<WORD>(candidate));
    if (name != nullptr && (upper == name || "CD" + upper == name))
      return static_cast<WORD>(candidate);
  }
  return std::nullopt;
}

/* ---- the fields of one line ---- */

class LineFields {
public:
  LineFields(std::string mnemonic, std::vector<Token> tokens)
      : mnemonic_(std::move(mnemonic)), tokens_(std::move(tokens)) {}

  const std::string& mnemonic() const { return mnemonic_; }
  const std::string& error() const { return error_; }
  bool failed() const { return !error_.empty(); }

  bool Has(const char* name) { return Find(name) != nullptr; }

  void Byte(const char* name, BYTE* out) { Unsigned(name, 0xFF, out); }
  void Word(const char* name, WORD* out) { Unsigned(name, 0xFFFF, out); }
  void Dword(const char* name, DWORD* out) { Unsigned(name, 0xFFFFFFFF, out); }

  template <typename T>
  void Optional(const char* name, std::optional<T>* out) {
    T value = 0;
    if (Unsigned(name, std::numeric_limits<T>::max(), &value))
      *out = value;
  }

  void Flag(const char* name, bool* out) {
    Named(name, kBooleans, "yes or no", false, out);
  }

  void Justification(const char* name, WORD* out) {
    Named(name, kJustifications, "a number or " + WordList(kJustifications), true, out);
  }

  void PaletteColor(const char* name, BYTE* out) {
    Named(name, kPaletteColors, "a number or " + WordList(kPaletteColors), true, out);
  }

  /* A number, or attribute words joined by '+'. */
  void Attributes(const char* name, BYTE* out) {
    Token* token = Take(name);
    if (token == nullptr || !Bare(*token))
      return;
    if (const std::optional<uint64_t> number = ParseUnsigned(token->value); number) {
      if (*number <= 0xFF)
        *out = static_cast<BYTE>(*number);
      else
        Expected(*token, "a number from 0 to 255");
      return;
    }
    BYTE bits = 0;
    for (std::string_view word : SplitOn(token->value, '+')) {
      const std::optional<DWORD> bit = LookUp(kAttributeWords, word);
      if (!bit) {
        Expected(*token, "a number or words joined by '+' of " + WordList(kAttributeWords));
        return;
      }
      bits = static_cast<BYTE>(bits | *bit);
    }
    *out = bits;
  }

  void Font(cdbuild::Font* font) {
    Byte("face", &font->face);
    Byte("size", &font->size);
    PaletteColor("color", &font->color);
    Attributes("attributes", &font->attributes);
  }

  void Signature(const char* name, WORD* out) {
    Token* token = Take(name);
    if (token == nullptr || !Bare(*token))
      return;
    if (const std::optional<WORD> signature = SignatureByName(token->value))
      *out = *signature;
    else
      Expected(*token, "a signature number 0x00nn or 0xFFnn or a signature name");
  }

  void RequiredSignature(const char* name, WORD* out) {
    if (!Has(name))
      Fail("field '" + std::string(name) + "' is required");
    Signature(name, out);
  }

  /* An RGB number 0xRRGGBB. */
  void Rgb(const char* name, std::optional<ColorValue>* out) {
    DWORD rgb = 0;
    if (Unsigned(name, 0xFFFFFF, &rgb))
      *out = ColorValue{0x0001, static_cast<BYTE>(rgb >> 16), static_cast<BYTE>(rgb >> 8),
                        static_cast<BYTE>(rgb)};
  }

  /* An RGB number 0xRRGGBB, stored as the double word 0x00BBGGRR. */
  void RgbWord(const char* name, DWORD* out) {
    std::optional<ColorValue> color;
    Rgb(name, &color);
    if (color)
      *out = color->red | static_cast<DWORD>(color->green) << 8 |
             static_cast<DWORD>(color->blue) << 16;
  }

  /* A quoted text, or hex digits. */
  void Text(const char* name, std::string* out, size_t limit = SIZE_MAX) {
    Token* token = Take(name);
    if (token == nullptr)
      return;
    std::string bytes;
    if (token->quoted) {
      bytes = token->value;
    } else if (const std::optional<cdbuild::Bytes> hex = ParseHex(token->value); hex) {
      bytes.assign(hex->begin(), hex->end());
    } else {
      Expected(*token, "a quoted text or hex digits");
      return;
    }
    if (bytes.size() > limit) {
      Fail("field '" + token->name + "': at most " + std::to_string(limit) + " bytes");
      return;
    }
    *out = std::move(bytes);
  }

  void ByteString(const char* name, cdbuild::Bytes* out, size_t limit = SIZE_MAX) {
    std::string text;
    Text(name, &text, limit);
    out->assign(text.begin(), text.end());
  }

  /* Tab positions: signed words, at most 20. */
  void Tabs(const char* name, std::vector<int16_t>* out) {
    Token* token = Take(name);
    if (token == nullptr || !Bare(*token))
      return;
    std::vector<int16_t> tabs;
    for (std::string_view part : SplitOn(token->value, ',')) {
      const std::optional<int64_t> value = ParseSigned(part);
      if (!value || *value < -32768 || *value > 32767) {
        Expected(*token, "numbers from -32768 to 32767 separated by ','");
        return;
      }
      tabs.push_back(static_cast<int16_t>(*value));
    }
    if (tabs.size() > 20) {
      Fail("field '" + token->name + "': at most 20 tabs");
      return;
    }
    *out = std::move(tabs);
  }

  /* Exactly six words. */
  void SixWords(const char* name, std::optional<std::array<WORD, 6>>* out) {
    Token* token = Take(name);
    if (token == nullptr || !Bare(*token))
      return;
    const std::vector<std::string_view> parts = SplitOn(token->value, ',');
    std::array<WORD, 6> words = {};
    for (size_t index = 0; index < parts.size(); ++index) {
      const std::optional<uint64_t> value = ParseUnsigned(parts[index]);
      if (parts.size() != words.size() || !value || *value > 0xFFFF) {
        Expected(*token, "six numbers from 0 to 65535 separated by ','");
        return;
      }
      words[index] = static_cast<WORD>(*value);
    }
    *out = words;
  }

  /* The first field no reader asked for. */
  const Token* Unused() const {
    for (const Token& token : tokens_) {
      if (!token.used)
        return &token;
    }
    return nullptr;
  }

  void Fail(const std::string& message) {
    if (error_.empty())
      error_ = message;
  }

private:
  Token* Find(const char* name) {
    for (Token& token : tokens_) {
      if (Upper(token.name) == Upper(name))
        return &token;
    }
    return nullptr;
  }

  Token* Take(const char* name) {
    Token* token = Find(name);
    if (token != nullptr)
      token->used = true;
    return token;
  }

  void Expected(const Token& token, const std::string& what) {
    Fail("field '" + token.name + "': expected " + what + ", found '" + token.raw + "'");
  }

  bool Bare(const Token& token) {
    if (!token.quoted)
      return true;
    Expected(token, "a bare value");
    return false;
  }

  /* True when the field is given and fits; false when absent or refused. */
  template <typename T>
  bool Unsigned(const char* name, DWORD max, T* out) {
    Token* token = Take(name);
    if (token == nullptr || !Bare(*token))
      return false;
    const std::optional<uint64_t> value = ParseUnsigned(token->value);
    if (!value || *value > max) {
      Expected(*token, "a number from 0 to " + std::to_string(max));
      return false;
    }
    *out = static_cast<T>(*value);
    return true;
  }

  /* A word of the table, or (with numbers) a number that fits T. */
  template <typename T, size_t N>
  void Named(const char* name, const NamedValue (&table)[N], const std::string& what,
             bool numbers, T* out) {
    Token* token = Take(name);
    if (token == nullptr || !Bare(*token))
      return;
    if (const std::optional<DWORD> value = LookUp(table, token->value)) {
      *out = static_cast<T>(*value);
      return;
    }
    const std::optional<uint64_t> number = ParseUnsigned(token->value);
    if (numbers && number && *number <= std::numeric_limits<T>::max()) {
      *out = static_cast<T>(*number);
      return;
    }
    Expected(*token, what);
  }

  std::string mnemonic_;
  std::vector<Token> tokens_;
  std::string error_;
};

/* ---- one maker per mnemonic ---- */

Bytes BuildText(LineFields& f) {
  TextFields fields;
  f.Font(&fields.font);
  f.Text("text", &fields.text);
  f.Signature("sig", &fields.signature);
  return Text(fields);
}

Bytes BuildPabDef(LineFields& f) {
  PabDefFields fields;
  f.Word("id", &fields.id);
  f.Justification("justify", &fields.justify);
  f.Word("spacing", &fields.line_spacing);
  f.Word("before", &fields.spacing_before);
  f.Word("after", &fields.spacing_after);
  f.Word("left", &fields.left);
  f.Word("right", &fields.right);
  f.Optional("firstline", &fields.first_line);
  f.Tabs("tabs", &fields.tabs);
  f.Word("flags", &fields.flags);
  f.Dword("tabtypes", &fields.tab_types);
  f.Word("flags2", &fields.flags2);
  f.SixWords("ext", &fields.extension);
  f.Optional("extflags", &fields.ext_flags);
  f.Optional("flags3", &fields.flags3);
  return PabDef(fields);
}

Bytes BuildPabRef(LineFields& f) {
  WORD id = 1;
  f.Word("id", &id);
  return PabRef(id);
}

Bytes BuildParagraph(LineFields&) { return Paragraph(); }

Bytes BuildBracket(LineFields& f, bool begin) {
  WORD signature = 0;
  WORD version = 0;
  f.RequiredSignature("sig", &signature);
  f.Word("version", &version);
  return begin ? Begin(signature, version) : End(signature, version);
}

Bytes BuildBegin(LineFields& f) { return BuildBracket(f, true); }
Bytes BuildEnd(LineFields& f) { return BuildBracket(f, false); }

Bytes BuildTableBegin(LineFields& f) {
  TableBeginFields fields;
  f.Word("left", &fields.left);
  f.Word("hspace", &fields.horizontal_space);
  f.Word("vspace", &fields.vertical_space);
  f.Word("flags", &fields.flags);
  f.Flag("nested", &fields.nested);
  return TableBegin(fields);
}

Bytes BuildTableCell(LineFields& f) {
  TableCellFields fields;
  f.Byte("row", &fields.row);
  f.Byte("column", &fields.column);
  f.Optional("left", &fields.left);
  f.Optional("right", &fields.right);
  f.Byte("borders", &fields.borders);
  f.Byte("flags", &fields.flags);
  f.Word("v42border", &fields.v42_border);
  f.Byte("rowspan", &fields.row_span);
  f.Byte("colspan", &fields.column_span);
  f.Word("background", &fields.background);
  f.Flag("nested", &fields.nested);
  return TableCell(fields);
}

Bytes BuildTableEnd(LineFields& f) {
  bool nested = false;
  f.Flag("nested", &nested);
  return TableEnd(nested);
}

Bytes BuildPreTable(LineFields& f) {
  PreTableFields fields;
  f.Dword("flags", &fields.flags);
  f.Byte("rowdisplay", &fields.row_display);
  f.Word("minrowheight", &fields.min_row_height);
  f.RgbWord("bodycolor", &fields.body_color);
  f.RgbWord("tablecolor", &fields.table_color);
  std::optional<ColorValue> border;
  f.Rgb("bordercolor", &border);
  if (border)
    fields.cell_border_color = *border;
  f.Text("name", &fields.name);
  return PreTableBegin(fields);
}

Bytes BuildField(LineFields& f) {
  FieldFields fields;
  f.Text("name", &fields.name);
  f.Text("description", &fields.description);
  f.Text("values", &fields.text_values);
  f.Word("type", &fields.data_type);
  f.Word("flags", &fields.flags);
  f.Word("delimiter", &fields.list_delimiter);
  f.Word("taborder", &fields.tab_order);
  f.Font(&fields.font);
  f.Text("default", &fields.default_formula);
  f.Text("translation", &fields.translation_formula);
  f.Text("validation", &fields.validation_formula);
  return Field(fields);
}

Bytes BuildHtmlBegin(LineFields&) { return HtmlBegin(); }
Bytes BuildHtmlEnd(LineFields&) { return HtmlEnd(); }

Bytes BuildColor(LineFields& f) {
  ColorFields fields;
  std::optional<ColorValue> color;
  f.Rgb("rgb", &color);
  if (color)
    fields.color = *color;
  f.Word("flags", &fields.color.flags);
  f.Rgb("gradient", &fields.gradient);
  return Color(fields);
}

Bytes BuildHotspotBegin(LineFields& f) {
  HotspotFields fields;
  f.Word("type", &fields.type);
  f.Dword("flags", &fields.flags);
  f.Text("data", &fields.data);
  f.Signature("sig", &fields.signature);
  return HotspotBegin(fields);
}

Bytes BuildHotspotEnd(LineFields& f) {
  WORD signature = SIG_CD_HOTSPOTEND;
  f.Signature("sig", &signature);
  return HotspotEnd(signature);
}

Bytes BuildLink(LineFields& f) {
  WORD id = 0;
  f.Word("id", &id);
  return Link(id);
}

Bytes BuildDocLink(LineFields& f) {
  Bytes noteLink;
  Bytes texts;
  f.ByteString("notelink", &noteLink, 40);
  f.ByteString("texts", &texts);
  return DocLink(noteLink, texts);
}

Bytes BuildRaw(LineFields& f) {
  WORD signature = 0;
  Bytes data;
  f.RequiredSignature("sig", &signature);
  f.ByteString("data", &data);
  return Raw(signature, data);
}

Bytes BuildAnchor(LineFields& f) {
  std::string name;
  f.Text("name", &name);
  return Anchor(name);
}

Bytes BuildButton(LineFields& f) {
  ButtonFields fields;
  f.Word("flags", &fields.flags);
  f.Word("width", &fields.width);
  f.Font(&fields.font);
  f.Text("label", &fields.label);
  return Button(fields);
}

Bytes BuildSectionBar(LineFields& f) {
  SectionBarFields fields;
  f.Dword("flags", &fields.flags);
  f.Font(&fields.font);
  f.Word("barcolor", &fields.color);
  f.Text("title", &fields.title);
  return SectionBar(fields);
}

Bytes BuildIdName(LineFields& f) {
  IdNameFields fields;
  f.Signature("sig", &fields.signature);
  f.Text("id", &fields.id);
  f.Text("class", &fields.class_name);
  f.Text("style", &fields.style);
  f.Text("title", &fields.title);
  f.Text("extra", &fields.extra);
  f.Text("name", &fields.name);
  return IdName(fields);
}

Bytes BuildPabHide(LineFields& f) {
  WORD id = 1;
  std::string formula;
  std::string source;
  f.Word("id", &id);
  f.Text("formula", &formula);
  if (!f.Has("source"))
    return PabHide(id, formula);
  f.Text("source", &source);
  const Bytes compiled = CompiledFormula(source);
  return PabHide(id, std::string(compiled.begin(), compiled.end()));
}

Bytes BuildStyleName(LineFields& f) {
  WORD id = 1;
  std::string name;
  f.Word("id", &id);
  f.Text("name", &name);
  return StyleName(id, name);
}

Bytes BuildTarget(LineFields& f) {
  std::string frame;
  f.Text("frame", &frame);
  return Target(frame);
}

Bytes BuildTableLabel(LineFields& f) {
  WORD flags = 0;
  std::string label;
  f.Text("label", &label);
  f.Word("flags", &flags);
  return TableLabel(label, flags);
}

Bytes BuildLayerBegin(LineFields&) { return LayerBegin(); }
Bytes BuildLayer(LineFields&) { return Layer(); }
Bytes BuildLayerEnd(LineFields&) { return LayerEnd(); }


Bytes BuildGraphic(LineFields& f) {
  GraphicFields fields;
  f.Word("destwidth", &fields.dest_width);
  f.Word("destheight", &fields.dest_height);
  f.Word("resize", &fields.resize);
  f.Byte("version", &fields.version);
  f.Byte("flags", &fields.flags);
  return Graphic(fields);
}

Bytes BuildImageHeader(LineFields& f) {
  ImageHeaderFields fields;
  f.Word("type", &fields.image_type);
  f.Word("width", &fields.width);
  f.Word("height", &fields.height);
  f.Dword("datasize", &fields.data_size);
  f.Dword("segments", &fields.segment_count);
  return ImageHeader(fields);
}

Bytes BuildImageSegment(LineFields& f) {
  Bytes data;
  f.ByteString("data", &data, 0xFFFF);
  return ImageSegment(data);
}

Bytes BuildBitmapHeader(LineFields& f) {
  BitmapHeaderFields fields;
  f.Word("destwidth", &fields.dest_width);
  f.Word("destheight", &fields.dest_height);
  f.Word("width", &fields.width);
  f.Word("height", &fields.height);
  f.Word("bpp", &fields.bits_per_pixel);
  f.Word("samples", &fields.samples_per_pixel);
  f.Word("segments", &fields.segment_count);
  return BitmapHeader(fields);
}

Bytes BuildBitmapSegment(LineFields& f) {
  Bytes data;
  WORD scanlines = 1;
  f.ByteString("data", &data, 0xFFFF);
  f.Word("scanlines", &scanlines);
  return BitmapSegment(data, scanlines);
}

Bytes BuildFileHeader(LineFields& f) {
  FileHeaderFields fields;
  f.Text("extension", &fields.extension);
  f.Dword("datasize", &fields.data_size);
  f.Dword("segments", &fields.segment_count);
  f.Dword("flags", &fields.flags);
  return FileHeader(fields);
}

Bytes BuildFileSegment(LineFields& f) {
  Bytes data;
  f.ByteString("data", &data, 0xFFFF);
  return FileSegment(data);
}

Bytes BuildStorageLink(LineFields& f) {
  StorageLinkFields fields;
  f.Word("type", &fields.storage_type);
  f.Word("load", &fields.load_type);
  f.Text("ref", &fields.reference);
  return StorageLink(fields);
}

Bytes BuildResource(LineFields& f) {
  ResourceFields fields;
  f.Signature("sig", &fields.signature);
  f.Dword("flags", &fields.flags);
  f.Word("type", &fields.type);
  f.Word("class", &fields.resource_class);
  f.Text("server", &fields.server_hint);
  f.Text("file", &fields.file_hint);
  f.ByteString("link", &fields.link);
  f.Text("name", &fields.name);
  return Resource(fields);
}

struct Mnemonic {
  const char* name;
  Bytes (*build)(LineFields&);
};

constexpr Mnemonic kMnemonics[] = {
    {"TEXT", BuildText},
    {"PABDEF", BuildPabDef},
    {"PABREF", BuildPabRef},
    {"PARAGRAPH", BuildParagraph},
    {"BEGIN", BuildBegin},
    {"END", BuildEnd},
    {"TABLEBEGIN", BuildTableBegin},
    {"TABLECELL", BuildTableCell},
    {"TABLEEND", BuildTableEnd},
    {"PRETABLEBEGIN", BuildPreTable},
    {"FIELD", BuildField},
    {"HTMLBEGIN", BuildHtmlBegin},
    {"HTMLEND", BuildHtmlEnd},
    {"PASSTHRUBEGIN", BuildHtmlBegin},
    {"PASSTHRUEND", BuildHtmlEnd},
    {"COLOR", BuildColor},
    {"HOTSPOTBEGIN", BuildHotspotBegin},
    {"HOTSPOTEND", BuildHotspotEnd},
    {"LINK", BuildLink},
    {"DOCLINK", BuildDocLink},
    {"RAW", BuildRaw},
    {"ANCHOR", BuildAnchor},
    {"BUTTON", BuildButton},
    {"SECTIONBAR", BuildSectionBar},
    {"IDNAME", BuildIdName},
    {"PABHIDE", BuildPabHide},
    {"STYLENAME", BuildStyleName},
    {"TARGET", BuildTarget},
    {"TABLELABEL", BuildTableLabel},
    {"LAYERBEGIN", BuildLayerBegin},
    {"LAYER", BuildLayer},
    {"LAYEREND", BuildLayerEnd},
    {"GRAPHIC", BuildGraphic},
    {"IMAGEHEADER", BuildImageHeader},
    {"IMAGESEGMENT", BuildImageSegment},
    {"BITMAPHEADER", BuildBitmapHeader},
    {"BITMAPSEGMENT", BuildBitmapSegment},
    {"FILEHEADER", BuildFileHeader},
    {"FILESEGMENT", BuildFileSegment},
    {"STORAGELINK", BuildStorageLink},
    {"RESOURCE", BuildResource},
};

const Mnemonic* FindMnemonic(const std::string& upper) {
  for (const Mnemonic& mnemonic : kMnemonics) {
    if (upper == mnemonic.name)
      return &mnemonic;
  }
  return nullptr;
}

/* HEX: every token after the mnemonic is hex digits. */
bool BuildHex(const std::vector<Token>& tokens, Bytes* record, std::string* error) {
  for (size_t index = 1; index < tokens.size(); ++index) {
    const Token& token = tokens[index];
    const std::optional<Bytes> bytes = token.has_value ? std::nullopt : ParseHex(token.name);
    if (!bytes) {
      *error = "HEX: expected hex digits, found '" + token.name +
               (token.has_value ? "=" + token.raw : "") + "'";
      return false;
    }
    record->insert(record->end(), bytes->begin(), bytes->end());
  }
  if (record->empty()) {
    *error = "HEX: no bytes";
    return false;
  }
  return true;
}

/* The fields every mnemonic takes: tail, then the header length. */
bool ApplyCommonFields(LineFields& f, Bytes* record, std::string* error) {
  std::string tail;
  std::optional<DWORD> length;
  f.Text("tail", &tail);
  f.Optional("length", &length);
  if (f.failed()) {
    *error = f.error();
    return false;
  }
  if (!tail.empty())
    *record = WithTail(std::move(*record), Bytes(tail.begin(), tail.end()));
  if (record->empty()) {
    *error = f.mnemonic() + ": the record is too long for its header";
    return false;
  }
  if (!length)
    return true;
  *record = WithHeaderLength(std::move(*record), *length);
  if (record->empty()) {
    *error = "field 'length': " + std::to_string(*length) + " does not fit the record's header";
    return false;
  }
  return true;
}

bool BuildRecord(std::vector<Token> tokens, Bytes* record, std::string* error) {
  const Token& first = tokens.front();
  const std::string mnemonicName = Upper(first.name);
  if (first.has_value || first.name.empty()) {
    *error = "a line must start with a record kind, found '" + first.name + "='";
    return false;
  }
  if (mnemonicName == "HEX")
    return BuildHex(tokens, record, error);
  const Mnemonic* mnemonic = FindMnemonic(mnemonicName);
  if (mnemonic == nullptr) {
    *error = "unknown record kind '" + first.name + "'";
    return false;
  }
  tokens.erase(tokens.begin());
  for (size_t index = 0; index < tokens.size(); ++index) {
    if (!tokens[index].has_value) {
      *error = "expected name=value, found '" + tokens[index].name + "'";
      return false;
    }
    for (size_t earlier = 0; earlier < index; ++earlier) {
      if (Upper(tokens[earlier].name) == Upper(tokens[index].name)) {
        *error = "field '" + tokens[index].name + "' given twice";
        return false;
      }
    }
  }
  LineFields fields(mnemonicName, std::move(tokens));
  *record = mnemonic->build(fields);
  const bool common = ApplyCommonFields(fields, record, error);
  if (const Token* unused = fields.Unused()) {
    *error = "'" + unused->name + "' is not a field of " + mnemonicName;
    return false;
  }
  if (fields.failed()) {
    *error = fields.error();
    return false;
  }
  return common;
}

} // namespace

bool BuildScriptLine(std::string_view line, Body* body, std::string* error) {
  std::vector<Token> tokens;
  if (!Tokenize(line, &tokens, error))
    return false;
  if (tokens.empty())
    return true;
  Bytes record;
  if (!BuildRecord(std::move(tokens), &record, error))
    return false;
  body->Add(std::move(record));
  return true;
}

bool BuildScript(std::string_view script, Body* body, ScriptError* error) {
  size_t number = 0;
  while (!script.empty()) {
    ++number;
    const size_t end = script.find('\n');
    const std::string_view line = script.substr(0, end);
    script.remove_prefix(end == std::string_view::npos ? script.size() : end + 1);
    std::string message;
    if (!BuildScriptLine(line, body, &message)) {
      error->line = number;
      error->message = std::move(message);
      return false;
    }
  }
  return true;
}

} // namespace cdbuild
