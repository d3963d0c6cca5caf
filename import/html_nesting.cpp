/*
 * Taking out the tags of elements nested too deep for the parser
 * (import/html_nesting.h).
 */
#include "import/html_nesting.h"

#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <vector>

namespace {

/* What an element does to the nesting. */
enum class role : unsigned char {
  kOther,     /* nests until its own end tag */
  kVoid,      /* nests nothing */
  kRawText,   /* its content is text up to its own end tag */
  kInline,    /* closed by an end tag of an element around it */
  kParagraph, /* closed too by the start of a block */
  kBlock,     /* closes an open paragraph */
  kListItem,
  kDefinition, /* dt, dd */
  kCell,       /* td, th */
  kRow,
  kSection, /* thead, tbody, tfoot */
  kTable,
  kOption,
};

struct named_role {
  const char* name;
  role what;
};

/* The roles of the elements named; any other nests until its own end tag. */
constexpr named_role kRoles[] = {
    {"a", role::kInline},         {"abbr", role::kInline},      {"acronym", role::kInline},
    {"address", role::kBlock},    {"area", role::kVoid},        {"article", role::kBlock},
    {"aside", role::kBlock},      {"b", role::kInline},         {"base", role::kVoid},
    {"basefont", role::kVoid},    {"bdi", role::kInline},       {"bdo", role::kInline},
    {"bgsound", role::kVoid},     {"big", role::kInline},       {"blink", role::kInline},
    {"blockquote", role::kBlock}, {"br", role::kVoid},          {"center", role::kBlock},
    {"cite", role::kInline},      {"code", role::kInline},      {"col", role::kVoid},
    {"dd", role::kDefinition},    {"del", role::kInline},       {"details", role::kBlock},
    {"dfn", role::kInline},       {"dialog", role::kBlock},     {"dir", role::kBlock},
    {"div", role::kBlock},        {"dl", role::kBlock},         {"dt", role::kDefinition},
    {"em", role::kInline},        {"embed", role::kVoid},       {"fieldset", role::kBlock},
    {"figcaption", role::kBlock}, {"figure", role::kBlock},     {"font", role::kInline},
    {"footer", role::kBlock},     {"form", role::kBlock},       {"frame", role::kVoid},
    {"h1", role::kBlock},         {"h2", role::kBlock},         {"h3", role::kBlock},
    {"h4", role::kBlock},         {"h5", role::kBlock},         {"h6", role::kBlock},
    {"header", role::kBlock},     {"hgroup", role::kBlock},     {"hr", role::kVoid},
    {"i", role::kInline},         {"img", role::kVoid},         {"input", role::kVoid},
    {"ins", role::kInline},       {"isindex", role::kVoid},     {"kbd", role::kInline},
    {"keygen", role::kVoid},      {"label", role::kInline},     {"li", role::kListItem},
    {"link", role::kVoid},        {"main", role::kBlock},       {"mark", role::kInline},
    {"menu", role::kBlock},       {"meta", role::kVoid},        {"nav", role::kBlock},
    {"nobr", role::kInline},      {"ol", role::kBlock},         {"option", role::kOption},
    {"p", role::kParagraph},      {"param", role::kVoid},       {"pre", role::kBlock},
    {"q", role::kInline},         {"s", role::kInline},         {"samp", role::kInline},
    {"script", role::kRawText},   {"section", role::kBlock},    {"small", role::kInline},
    {"source", role::kVoid},      {"span", role::kInline},      {"strike", role::kInline},
    {"strong", role::kInline},    {"style", role::kRawText},    {"sub", role::kInline},
    {"summary", role::kBlock},    {"sup", role::kInline},       {"table", role::kTable},
    {"tbody", role::kSection},    {"td", role::kCell},          {"tfoot", role::kSection},
    {"th", role::kCell},          {"thead", role::kSection},    {"tr", role::kRow},
    {"track", role::kVoid},       {"tt", role::kInline},        {"u", role::kInline},
    {"ul", role::kBlock},         {"var", role::kInline},       {"wbr", role::kVoid},
};

/* A tag's name, lower-cased: its first sixteen bytes as two numbers, and
 * its length. Longer names, none of them an element the parser knows, are
 * told apart by those bytes alone. */
struct tag_name {
  uint64_t head = 0;
  uint64_t tail = 0;
  size_t length = 0;

  constexpr bool operator==(const tag_name& other) const = default;
  /* Adds the name's next byte, lower-cased. */
  constexpr void Add(char c) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (length < 16)
      (length < 8 ? head : tail) |= uint64_t{static_cast<unsigned char>(c)} << (8 * (length % 8));
    ++length;
  }
};

/* kRoles by name in a table of open addressing, made at compile time. */
constexpr size_t kRoleSlots = 256;
static_assert(sizeof kRoles / sizeof *kRoles < kRoleSlots / 2, "the table stays sparse");

constexpr size_t SlotOf(const tag_name& name) {
  return static_cast<size_t>(((name.head ^ (name.tail * 31) ^ name.length) * 0x9E3779B97F4A7C15ULL) >>
                             56);
}

struct role_slot {
  tag_name name;
  role what = role::kOther;
  bool used = false;
};

constexpr std::array<role_slot, kRoleSlots> kRoleTable = [] {
  std::array<role_slot, kRoleSlots> table{};
  for (const named_role& row : kRoles) {
    tag_name name;
    for (const char* c = row.name; *c != '\0'; ++c)
      name.Add(*c);
    size_t slot = SlotOf(name);
    while (table[slot].used)
      slot = (slot + 1) % kRoleSlots;
    table[slot] = {name, row.what, true};
  }
  return table;
}();

role RoleOf(const tag_name& name) {
  for (size_t slot = SlotOf(name);; slot = (slot + 1) % kRoleSlots) {
    const role_slot& row = kRoleTable[slot];
    if (!row.used)
      return role::kOther;
    if (row.name == name)
      return row.what;
  }
}

/* Sets of roles, a bit each. */
constexpr unsigned Roles(std::initializer_list<role> roles) {
  unsigned set = 0;
  for (role what : roles)
    set |= 1u << static_cast<unsigned>(what);
  return set;
}

constexpr bool In(role what, unsigned set) { return (set >> static_cast<unsigned>(what) & 1) != 0; }

constexpr unsigned kTableParts = Roles({role::kCell, role::kRow, role::kSection});
/* The elements whose end tags are implied. */
constexpr unsigned kImpliedEnds = Roles({role::kInline, role::kParagraph, role::kListItem,
                                         role::kDefinition, role::kOption});
constexpr unsigned kItems = Roles({role::kListItem, role::kDefinition, role::kOption});
constexpr unsigned kInlineOrParagraph = Roles({role::kInline, role::kParagraph});
/* The elements that close an open paragraph. */
constexpr unsigned kParagraphClosers = Roles(
    {role::kParagraph, role::kBlock, role::kListItem, role::kDefinition, role::kTable});

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == ':' || c == '_';
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

/* The name at html[at] into *name; where it ends. */
size_t ReadName(std::string_view html, size_t at, tag_name* name) {
  for (; at < html.size() && IsNameByte(html[at]); ++at)
    name->Add(html[at]);
  return at;
}

/* Where the tag whose attributes start at html[at] ends (after its '>').
 * Quoted values may hold '>'. A tag that closes itself ("<div/>") is
 * taken as a start tag, erring on the deep side. */
size_t TagEnd(std::string_view html, size_t at) {
  bool afterEquals = false;
  while (at < html.size()) {
    const char c = html[at];
    if (c == '>')
      return at + 1;
    if (afterEquals && (c == '"' || c == '\'')) {
      const size_t close = html.find(c, at + 1);
      if (close == std::string_view::npos)
        return html.size();
      at = close + 1;
      afterEquals = false;
      continue;
    }
    if (c == '=')
      afterEquals = true;
    else if (!IsSpace(c))
      afterEquals = false;
    ++at;
  }
  return html.size();
}

/* Where the text of a raw-text element ends: at its own end tag ("</name"
 * in any case), or the document's end. */
size_t RawTextEnd(std::string_view html, size_t at, const tag_name& name) {
  for (size_t close = html.find("</", at); close != std::string_view::npos;
       close = html.find("</", close + 2)) {
    tag_name closing;
    ReadName(html, close + 2, &closing);
    if (closing == name)
      return close;
  }
  return html.size();
}

struct open_element {
  tag_name name;
  role what;
};

/* How far down the open elements a tag looks for the one it closes;
 * farther down it closes nothing, erring on the deep side, so that a
 * document of many open elements is read in linear time. */
constexpr size_t kFarthestLook = 64;

/* The open elements as the parser keeps them. An inline element stays
 * open across blocks and their ends (the parser opens it again in each
 * block that follows) until its own end tag, or a cell or row ends. */
class nesting {
public:
  /* A start tag: the open elements it closes first, then itself; false
   * when it is left out instead, as it would lie deeper than `deepest`. A
   * cell, row or row group
   * closes the one before it across inline elements, paragraphs and other
   * parts of the table; a list item, a definition's term or description
   * and an option close theirs across inline elements and paragraphs; a
   * block closes a paragraph across inline elements. */
  bool Start(const tag_name& name, role what, size_t deepest) {
    if (In(what, kTableParts))
      Close(what, kTableParts | kInlineOrParagraph, false);
    else if (In(what, kItems))
      Close(what, kInlineOrParagraph, true);
    if (In(what, kParagraphClosers))
      Close(role::kParagraph, Roles({role::kInline}), true);
    if (open_.size() >= deepest)
      return false;
    open_.push_back({name, what});
    return true;
  }

  /* An end tag: closes the open element of its name, across the elements
   * whose ends are implied (inline elements stay open); a table's or its
   * part's across all but a table. False when it closes nothing. */
  bool End(const tag_name& name, role what) {
    const bool tablePart = what == role::kTable || In(what, kTableParts);
    const size_t floor = open_.size() > kFarthestLook ? open_.size() - kFarthestLook : 0;
    for (size_t at = open_.size(); at-- > floor;) {
      const open_element& element = open_[at];
      if (element.name == name) {
        CloseAt(at, !tablePart);
        return true;
      }
      if (tablePart ? element.what == role::kTable : !In(element.what, kImpliedEnds))
        return false;
    }
    return false;
  }

private:
  /* Closes the nearest open element of the role across elements of the
   * crossed roles only. */
  void Close(role own, unsigned crossed, bool inlineStays) {
    const size_t floor = open_.size() > kFarthestLook ? open_.size() - kFarthestLook : 0;
    for (size_t at = open_.size(); at-- > floor;) {
      if (open_[at].what == own) {
        CloseAt(at, inlineStays);
        return;
      }
      if (!In(open_[at].what, crossed))
        return;
    }
  }

  /* Closes the element at `at` and those above it, but for the inline
   * elements above it when they stay open. */
  void CloseAt(size_t at, bool inlineStays) {
    size_t kept = at;
    for (size_t above = at + 1; above < open_.size(); ++above) {
      if (inlineStays && open_[above].what == role::kInline)
        open_[kept++] = open_[above];
    }
    open_.resize(kept);
  }

  std::vector<open_element> open_;
};

} // namespace

bool FlattenDeepNesting(std::string_view html, size_t deepest, std::string* out) {
  nesting open;
  std::string kept;
  size_t copied = 0; /* html before this is in kept */
  bool cutting = false;
  // Once a start tag is left out, so are the end tags that close nothing
  // (those of the tags left out, mostly): the parser would only complain
  // of each.
  auto leaveOut = [&](size_t from, size_t to) {
    if (!cutting)
      kept.reserve(html.size());
    cutting = true;
    kept.append(html.substr(copied, from - copied));
    copied = to;
  };
  for (size_t at = html.find('<'); at != std::string_view::npos && at + 1 < html.size();
       at = html.find('<', at)) {
    const char next = html[at + 1];
    if (next == '!' && html.compare(at, 4, "<!--") == 0) {
      const size_t close = html.find("-->", at + 4);
      at = close == std::string_view::npos ? html.size() : close + 3;
      continue;
    }
    if (next == '!' || next == '?') {
      const size_t close = html.find('>', at + 2);
      at = close == std::string_view::npos ? html.size() : close + 1;
      continue;
    }
    const bool endTag = next == '/';
    const size_t nameAt = at + (endTag ? 2 : 1);
    if (nameAt >= html.size() || !IsLetter(html[nameAt])) {
      ++at; // a '<' of the text
      continue;
    }
    tag_name name;
    const size_t end = TagEnd(html, ReadName(html, nameAt, &name));
    const role what = RoleOf(name);
    if (endTag) {
      if (!open.End(name, what) && cutting)
        leaveOut(at, end);
    } else if (what == role::kRawText) {
      at = RawTextEnd(html, end, name);
      continue;
    } else if (what != role::kVoid && !open.Start(name, what, deepest)) {
      leaveOut(at, end);
    }
    at = end;
  }
  if (!cutting)
    return false;
  kept.append(html.substr(copied));
  *out = std::move(kept);
  return true;
}
