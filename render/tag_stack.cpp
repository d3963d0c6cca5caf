/*
 * The close-tag stacks: pushing a pending closing tag, popping down to a
 * tag (with the table and list guards) while writing the popped tags, and
 * the queries the renderers ask before they close or open an element.
 *
 * The renderers ask "is this tag open" many times per text run, so the
 * main stack keeps a count per tag for the tags they ask about most
 * (kCountedTags) and its depth, updated as nodes come and go; popped
 * nodes are kept for the next pushes. Other tags and the second stack are
 * searched.
 */
#include "render/tag_stack.h"

#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <array>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <new>

namespace {

xml_stack_node *&Head(html_render_info *context, WORD which) {
  return which == 0 ? context->tag_stack : context->second_tag_stack;
}

const xml_stack_node *Head(const html_render_info *context, WORD which) {
  return which == 0 ? context->tag_stack : context->second_tag_stack;
}

bool SameIgnoringCase(const char *a, const char *b) {
  return a != nullptr && b != nullptr && strcasecmp(a, b) == 0;
}

bool IsAnyOf(const char *tag, std::initializer_list<const char *> tags) {
  for (const char *candidate : tags) {
    if (SameIgnoringCase(tag, candidate))
      return true;
  }
  return false;
}

bool OnStackIgnoringCase(const xml_stack_node *node, std::initializer_list<const char *> tags) {
  for (; node != nullptr; node = node->next) {
    if (IsAnyOf(node->tag, tags))
      return true;
  }
  return false;
}

bool OnStackExactly(const xml_stack_node *node, const char *tag) {
  for (; node != nullptr; node = node->next) {
    if (SameXMLTag(node->tag, tag))
      return true;
  }
  return false;
}

/* A pop that must stay inside a table. */
bool TableGuardPasses(const xml_stack_node *top, const char *tag) {
  if (IsAnyOf(tag, {"</td>", "</th>"}))
    return OnStackIgnoringCase(top, {"</tr>", "</table>"});
  if (IsAnyOf(tag, {"</tr>"}))
    return OnStackIgnoringCase(top, {"</table>"});
  if (IsAnyOf(tag, {"</li>", "</div>", "</p>"}))
    return OnStackIgnoringCase(top, {"</td>", "</th>", "</tr>", "</table>"});
  return true;
}

/* A pop that must not cross a table: the tag must come before any table
 * structure. */
bool ListGuardPasses(const xml_stack_node *top, const char *tag) {
  if (!IsAnyOf(tag, {"</li>", "</ul>", "</ol>", "</div>", "</p>"}))
    return true;
  for (const xml_stack_node *node = top; node != nullptr; node = node->next) {
    if (SameIgnoringCase(node->tag, tag))
      return true;
    if (IsAnyOf(node->tag, {"</td>", "</th>", "</tr>", "</table>"}))
      return false;
  }
  return true;
}

/* Block closing tags that a line end follows under AddNewlines. */
bool EndsLine(const char *tag) {
  return IsAnyOf(tag, {"</table>", "</tr>", "</body>", "</ul>", "</ol>", "</div>", "</p>"});
}

/* Writes a popped tag of `length` bytes. */
void WriteTag(html_render_info *context, WORD which, const char *tag, size_t length,
              render_text *target) {
  if (target != nullptr) {
    RenderTextPut(target, tag, length);
    return;
  }
  // The second stack has no output position of its own.
  if (which != 0)
    return;
  RenderPut(context, tag, length);
  const DWORD newlines = html_flags::NewlineNUL | html_flags::NewlineCRLF;
  if ((context->flags & newlines) != 0 &&
      (context->encoding_flags & kEncodingQuotedPrintable) == 0 && EndsLine(tag))
    RenderPutc(context, '\n');
}

/* The counted tags, by index; CountedTag finds a text's index. */
constexpr const char *kCountedTagTexts[kCountedTags] = {
    "</font>", "</b>",  "</strong>", "</i>",  "</em>", "</u>",  "</s>",
    "</sup>",  "</sub>", "</span>",  "</a>",  "</div>", "</p>", "</li>",
    "</ul>",   "</ol>", "</td>",     "</th>", "</tr>", "</table>"};

/* Their lengths, so that a popped counted tag is written without a scan. */
constexpr auto kCountedTagLengths = [] {
  std::array<BYTE, kCountedTags> lengths{};
  for (int i = 0; i < kCountedTags; ++i)
    lengths[i] = static_cast<BYTE>(std::string_view(kCountedTagTexts[i]).size());
  return lengths;
}();

constexpr int kCountedUnorderedList = 14;
constexpr int kCountedOrderedList = 15;
constexpr int kCountedCell = 16;
constexpr int kCountedHeaderCell = 17;
constexpr int kCountedRow = 18;
constexpr int kCountedTable = 19;
static_assert(std::string_view(kCountedTagTexts[kCountedUnorderedList]) == "</ul>" &&
              std::string_view(kCountedTagTexts[kCountedOrderedList]) == "</ol>" &&
              std::string_view(kCountedTagTexts[kCountedCell]) == "</td>" &&
              std::string_view(kCountedTagTexts[kCountedHeaderCell]) == "</th>" &&
              std::string_view(kCountedTagTexts[kCountedRow]) == "</tr>" &&
              std::string_view(kCountedTagTexts[kCountedTable]) == "</table>");

/* The index of a counted tag, or -1; the texts are exact, as the queries
 * compare them. */
int CountedTag(const char *t) {
  if (t == nullptr || t[0] != '<' || t[1] != '/')
    return -1;
  const char *r = t + 3;
  switch (t[2]) {
  case 'a': return SameXMLTag(r, ">") ? 10 : -1;
  case 'b': return SameXMLTag(r, ">") ? 1 : -1;
  case 'd': return SameXMLTag(r, "iv>") ? 11 : -1;
  case 'e': return SameXMLTag(r, "m>") ? 4 : -1;
  case 'f': return SameXMLTag(r, "ont>") ? 0 : -1;
  case 'i': return SameXMLTag(r, ">") ? 3 : -1;
  case 'l': return SameXMLTag(r, "i>") ? 13 : -1;
  case 'o': return SameXMLTag(r, "l>") ? 15 : -1;
  case 'p': return SameXMLTag(r, ">") ? 12 : -1;
  case 's':
    switch (r[0]) {
    case '>': return r[1] == '\0' ? 6 : -1;
    case 'p': return SameXMLTag(r, "pan>") ? 9 : -1;
    case 't': return SameXMLTag(r, "trong>") ? 2 : -1;
    case 'u': return SameXMLTag(r, "up>") ? 7 : SameXMLTag(r, "ub>") ? 8 : -1;
    default: return -1;
    }
  case 't':
    switch (r[0]) {
    case 'd': return SameXMLTag(r, "d>") ? 16 : -1;
    case 'h': return SameXMLTag(r, "h>") ? 17 : -1;
    case 'r': return SameXMLTag(r, "r>") ? 18 : -1;
    case 'a': return SameXMLTag(r, "able>") ? 19 : -1;
    default: return -1;
    }
  case 'u': return SameXMLTag(r, ">") ? 5 : SameXMLTag(r, "l>") ? 14 : -1;
  default: return -1;
  }
}

/* CountedTag, remembered by the text's address. A text has two places,
 * an even slot and the odd one beside it, so that two texts the walk asks
 * about in turn do not keep pushing each other out when their addresses
 * fall on the same slot: a new text takes the even slot and moves what
 * stood there to the odd one. */
int CountedTagAt(const html_render_info *context, const char *tag) {
  static_assert(kTagLookups % 2 == 0, "slots go in pairs");
  const auto slot = static_cast<size_t>((reinterpret_cast<uintptr_t>(tag) * 0x9E3779B97F4A7C15ull) >>
                                        58) % kTagLookups & ~size_t{1};
  auto *lookups = const_cast<html_render_info *>(context)->tag_lookups;
  auto &first = lookups[slot];
  if (first.text == tag && tag != nullptr)
    return first.counted;
  auto &second = lookups[slot + 1];
  if (second.text == tag && tag != nullptr)
    return second.counted;
  second = first;
  first.text = tag;
  first.counted = CountedTag(tag);
  return first.counted;
}

/* Keeps the counts of the main stack as a node comes or goes. */
void Count(html_render_info *context, WORD which, int index, int change) {
  if (which != 0)
    return;
  context->tag_depth += change;
  if (index >= 0) {
    const auto count = static_cast<WORD>(context->counted_tags[index] + change);
    context->counted_tags[index] = count;
    if (count != 0)
      context->counted_open |= DWORD{1} << index;
    else
      context->counted_open &= ~(DWORD{1} << index);
  }
}

/* Takes the top node off the stack and keeps it for the next push. */
void DropTop(html_render_info *context, WORD which) {
  xml_stack_node *&head = Head(context, which);
  xml_stack_node *node = head;
  head = node->next;
  Count(context, which, node->counted, -1);
  node->next = context->free_tag_nodes;
  context->free_tag_nodes = node;
}

/* Whether the tag is on the stack, from the counts where they tell. */
bool OnStack(const html_render_info *context, WORD which, const char *tag) {
  if (which == 0) {
    if (const int index = CountedTagAt(context, tag); index >= 0)
      return context->counted_tags[index] != 0;
  }
  return OnStackExactly(Head(context, which), tag);
}

} // namespace

xml_stack_node *PushXMLStackWithID(html_render_info *context, WORD which, const char *tag,
                                   WORD id) {
  xml_stack_node *node = context->free_tag_nodes;
  if (node != nullptr)
    context->free_tag_nodes = node->next;
  else
    node = new (std::nothrow) xml_stack_node;
  if (node == nullptr) {
    // An element whose closing tag cannot be kept would be left open (or
    // its markup lost) in output that passes for whole: the run fails.
    if (context->output_status == NOERROR)
      context->output_status = VELKO_ERR_MEMORY;
    return nullptr;
  }
  *node = xml_stack_node{tag, id, nullptr, which == 0 ? CountedTagAt(context, tag) : -1};
  xml_stack_node *&head = Head(context, which);
  node->next = head;
  head = node;
  Count(context, which, node->counted, 1);
  return node;
}

xml_stack_node *PushXMLStack(html_render_info *context, WORD which, const char *tag) {
  return PushXMLStackWithID(context, which, tag, 0);
}

int PopXMLStackToBuffer(html_render_info *context, WORD which, const char *tag, DWORD write,
                        DWORD mustExist, render_text *target, DWORD stopBefore, DWORD tableGuard,
                        DWORD listGuard) {
  xml_stack_node *&head = Head(context, which);
  if (head == nullptr)
    return 0;
  if (mustExist != 0 && !OnStack(context, which, tag))
    return 0;
  if (tableGuard != 0 && tag != nullptr && !TableGuardPasses(head, tag))
    return 0;
  if (listGuard != 0 && tag != nullptr && !ListGuardPasses(head, tag))
    return 0;
  int popped = 0;
  while (head != nullptr) {
    if (stopBefore != 0 && SameXMLTag(head->tag, tag))
      break;
    const char *popped_tag = head->tag;
    const int counted = head->counted;
    DropTop(context, which);
    if (write != 0)
      WriteTag(context, which, popped_tag,
               counted >= 0 ? kCountedTagLengths[counted] : strlen(popped_tag), target);
    const bool reached = SameXMLTag(popped_tag, tag);
    popped = 1;
    if (tag == nullptr || reached)
      break;
  }
  return popped;
}

int PopXMLStack(html_render_info *context, WORD which, const char *tag, DWORD write,
                DWORD mustExist, DWORD stopBefore, DWORD tableGuard, DWORD listGuard) {
  return PopXMLStackToBuffer(context, which, tag, write, mustExist, nullptr, stopBefore, tableGuard,
                             listGuard);
}

void PopXMLStackToPointToBuffer(html_render_info *context, WORD which,
                                const xml_stack_node *stopNode, render_text *target) {
  xml_stack_node *&head = Head(context, which);
  while (head != nullptr && head != stopNode) {
    const char *tag = head->tag;
    DropTop(context, which);
    if (target != nullptr)
      RenderTextPuts(target, tag);
  }
}

int TagOnXMLStack(const html_render_info *context, WORD which, const char *tag, DWORD topOnly) {
  const xml_stack_node *head = Head(context, which);
  if (topOnly != 0)
    return head != nullptr && SameXMLTag(head->tag, tag) ? 1 : 0;
  return OnStack(context, which, tag) ? 1 : 0;
}

int CloseRunTagsOnXMLStack(html_render_info *context) {
  // The run tags are the counted tags 0 to 8, in the order they close.
  constexpr DWORD kRunTags = (DWORD{1} << 9) - 1;
  static_assert(kCountedTags >= 9);
  int popped = 0;
  while (const DWORD open = context->counted_open & kRunTags) {
    const int index = __builtin_ctz(open);
    if (PopXMLStack(context, 0, kCountedTagTexts[index], 1, 0, 0, 0, 0) == 0)
      break; // cannot happen while the counts are right
    popped = 1;
  }
  return popped;
}

WORD TagOnXMLStackWithID(const html_render_info *context, WORD which, const char *tag,
                         DWORD topOnly) {
  for (const xml_stack_node *node = Head(context, which); node != nullptr; node = node->next) {
    if (SameXMLTag(node->tag, tag) && node->id != 0)
      return static_cast<WORD>(node->id);
    if (topOnly != 0)
      return 0;
  }
  return 0;
}

int TagOnXMLStackBefore(const html_render_info *context, WORD which, const char *tag,
                        const char *stop1, const char *stop2, const char *stop3) {
  if (which == 0) {
    const char *const stops[] = {stop1, stop2, stop3};
    return TagOpenBeforeStops(context, tag, stops, std::size(stops)) ? 1 : 0;
  }
  for (const xml_stack_node *node = Head(context, which); node != nullptr; node = node->next) {
    if (SameXMLTag(node->tag, tag))
      return 1;
    if (SameXMLTag(node->tag, stop1) || SameXMLTag(node->tag, stop2) || SameXMLTag(node->tag, stop3))
      return 0;
  }
  return 0;
}

int TagOnXMLStackBeforeTag(const html_render_info *context, WORD which, const char *tag,
                           const char *stop1, const char *stop2) {
  return TagOnXMLStackBefore(context, which, tag, stop1, stop2, nullptr);
}

bool TagOpenBeforeStops(const html_render_info *context, const char *tag,
                        const char *const *stops, size_t count) {
  const int index = CountedTagAt(context, tag);
  if (index >= 0 && context->counted_tags[index] == 0)
    return false;
  DWORD stopPlaces = 0;
  bool allCounted = index >= 0;
  for (size_t i = 0; i < count && allCounted; ++i) {
    if (stops[i] == nullptr)
      continue; // a stop not given
    const int place = CountedTagAt(context, stops[i]);
    allCounted = place >= 0;
    if (allCounted)
      stopPlaces |= DWORD{1} << place;
  }
  for (const xml_stack_node *node = context->tag_stack; node != nullptr; node = node->next) {
    if (allCounted) {
      // A node of a tag not counted is none of the tags asked.
      if (node->counted == index)
        return true;
      if (node->counted >= 0 && (stopPlaces >> node->counted & 1) != 0)
        return false;
      continue;
    }
    if (SameXMLTag(node->tag, tag))
      return true;
    for (size_t i = 0; i < count; ++i) {
      if (SameXMLTag(node->tag, stops[i]))
        return false;
    }
  }
  return false;
}

bool CellTagOnXMLStack(const html_render_info *context) {
  return context->counted_tags[kCountedCell] != 0 || context->counted_tags[kCountedHeaderCell] != 0;
}

const xml_stack_node *OpenCellOfRow(const html_render_info *context) {
  if (!CellTagOnXMLStack(context))
    return nullptr;
  // Main-stack nodes carry their counted place, which stands for the
  // exact text.
  for (const xml_stack_node *node = context->tag_stack; node != nullptr; node = node->next) {
    switch (node->counted) {
    case kCountedCell:
    case kCountedHeaderCell:
      return node;
    case kCountedRow:
    case kCountedTable:
      return nullptr;
    default:
      break;
    }
  }
  return nullptr;
}

bool IsListClosingNode(const xml_stack_node *node) {
  return node != nullptr &&
         (node->counted == kCountedUnorderedList || node->counted == kCountedOrderedList);
}

void DiscardXMLStacks(html_render_info *context) {
  for (WORD which : {WORD{0}, WORD{1}}) {
    while (Head(context, which) != nullptr)
      DropTop(context, which);
  }
  while (xml_stack_node *node = context->free_tag_nodes) {
    context->free_tag_nodes = node->next;
    delete node;
  }
}

DWORD XMLStackDepth(const html_render_info *context) { return context->tag_depth; }

bool TagOpenInLayer(const html_render_info *context, const char *tag) {
  const DWORD floor = context->layer_floor;
  if (floor == 0)
    return OnStack(context, 0, tag); // the whole stack, from its counts when counted
  DWORD above = context->tag_depth > floor ? context->tag_depth - floor : 0;
  for (const xml_stack_node *node = context->tag_stack; node != nullptr && above > 0;
       node = node->next, --above) {
    if (SameXMLTag(node->tag, tag))
      return true;
  }
  return false;
}
