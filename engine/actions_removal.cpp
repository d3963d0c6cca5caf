/*
 * Record actions that drop records from the item being rebuilt, and their
 * neighbours: removing the chunk's content (keeping whole the tables,
 * hotspots and brackets it holds only one end of, and mending the
 * paragraph where the removed range ends), removing hotspots, links and
 * sections, dropping every record of the chunk, exporting the chunk's first image to
 * a file, turning bitmaps into GIF images, and wrapping the chunk's image
 * in an image-map area (SetImageHotspot).
 *
 * A record is dropped by leaving its output length 0. A removal that
 * decides about a run of records at its first one marks the later records
 * of the run (MarkRecordForRemoval); each removal drops a marked record
 * first.
 */
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <iterator>
#include <new>
#include <utility>
#include <vector>

#include "engine/edges_wrap.h"
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

/* ---- record families ---- */

constexpr WORD kHotspotTypeLink = 11;
constexpr WORD kHotspotTypeLinkResource = 32;
constexpr WORD kHotspotTypeSection = 12;
constexpr WORD kHotspotTypeSectionAlt = 13;
/* A link hotspot with this flag is kept while RemoveLinks keeps actions. */
constexpr DWORD kHotspotFlagKeepable = 0x1000;
constexpr DWORD kHotspotTypeOffset = offsetof(CDHOTSPOTBEGIN, Type);
constexpr DWORD kHotspotFlagsOffset = offsetof(CDHOTSPOTBEGIN, Flags);
/* Event records share the resource layout; the event code is its type. */
constexpr DWORD kEventCodeOffset = offsetof(CDRESOURCE, Type);
constexpr DWORD kImageTypeOffset = offsetof(CDIMAGEHEADER, ImageType);
constexpr WORD kImageTypeGif = 1;
constexpr WORD kBitmapTransparencyTable = 0xC5;

bool IsHotspotBegin(WORD signature) {
  return signature == SIG_CD_HOTSPOTBEGIN || signature == SIG_CD_V4HOTSPOTBEGIN ||
         signature == SIG_CD_RESOURCELINKBEGIN || signature == SIG_CD_ALTHOTSPOTBEGIN;
}
bool IsHotspotRecord(WORD signature) { return IsHotspotBegin(signature) || IsHotspotEnd(signature); }
/* The begins a section can have. */
bool IsSectionBeginSignature(WORD signature) {
  return signature == SIG_CD_RESOURCELINKBEGIN || signature == SIG_CD_V4HOTSPOTBEGIN ||
         signature == SIG_CD_HOTSPOTBEGIN;
}
bool IsEventRecord(WORD signature) {
  return signature == SIG_CD_RESOURCE || signature == SIG_CD_RESOURCE_FF71 ||
         signature == SIG_CD_RESOURCE_FF78 || signature == SIG_CD_RESOURCE_FF5A;
}
/* Records that name or target a hotspot's destination. */
bool IsHotspotPart(WORD signature) {
  return signature == SIG_CD_TARGET || signature == SIG_CD_IDNAME ||
         signature == SIG_CD_IDNAME2;
}

WORD WordAt(const record_storage* node, DWORD offset) {
  WORD value = 0;
  if (node != nullptr)
    ReadRecordWord(node->data, node->length, offset, &value);
  return value;
}
DWORD DwordAt(const record_storage* node, DWORD offset) {
  DWORD value = 0;
  if (node != nullptr)
    ReadRecordDword(node->data, node->length, offset, &value);
  return value;
}
WORD HotspotType(const record_storage* node) { return WordAt(node, kHotspotTypeOffset); }
WORD EventCode(const record_storage* node) { return WordAt(node, kEventCodeOffset); }

bool IsSectionBegin(const record_storage* node) {
  const WORD type = HotspotType(node);
  return IsSectionBeginSignature(node->signature) &&
         (type == kHotspotTypeSection || type == kHotspotTypeSectionAlt);
}

bool IsBegin(const record_storage* node) { return node->signature == SIG_CD_BEGIN; }
bool IsEnd(const record_storage* node) { return node->signature == SIG_CD_END; }
bool BracketsHotspotBegin(const record_storage* node) {
  return IsBracket(node->signature) && IsHotspotBegin(NodeBracket(node));
}
bool BracketsHotspotRecord(const record_storage* node) {
  return IsBracket(node->signature) && IsHotspotRecord(NodeBracket(node));
}
bool BracketsLink(const record_storage* node) {
  return IsBracket(node->signature) && IsLinkRecord(NodeBracket(node));
}

/* ---- marks ---- */

body_context* InputList(chunk_process_state* state) { return StateItem(state)->internal->input; }

void Mark(chunk_process_state* state, record_storage* node) {
  MarkRecordForRemoval(InputList(state), node);
}
bool IsMarked(const record_storage* node) {
  return node != nullptr && (node->flags & RECORD_MARKED) != 0;
}

/* Marks every record after `from` up to and including the next CDEND;
 * the node after the CDEND is returned (null at the list's end). */
record_storage* MarkThroughNextEnd(chunk_process_state* state, record_storage* from) {
  for (record_storage* node = from->next; node != nullptr; node = node->next) {
    Mark(state, node);
    if (IsEnd(node))
      return node->next;
  }
  return nullptr;
}

/* The node of the hotspot end that closes the hotspot beginning at
 * `begin`, counting nested hotspots; null when there is none. */
record_storage* HotspotEndOf(record_storage* begin) {
  int depth = 0;
  for (record_storage* node = begin->next; node != nullptr; node = node->next) {
    if (IsHotspotBegin(node->signature))
      ++depth;
    else if (IsHotspotEnd(node->signature) && depth-- == 0)
      return node;
  }
  return nullptr;
}

void Drop(chunk_record_output* output) { output->length = 0; }

/* ---- Remove ---- */

/* A removed paragraph definition is kept for the references after the
 * removed range. The host is told when the list passes its usual room;
 * the list grows, so that no reference after the range loses its
 * definition. */
STATUS SaveRemovedDefinition(const char* record, chunk_process_state* state) {
  if (state->session->internal->saved_definition_count ==
      static_cast<DWORD>(_internal_SESS::kMaxSavedDefinitions))
    ShowUserMessage("TARNO: Unable to save additional deleted PAB definitions.");
  return SaveParagraphDefinition(state->session, record);
}

/* With the relation Inside the target's own frame stays. */
bool KeepsFrame(WORD signature, const chunk_process_state* state) {
  const chunkdef_info* clause = state->first_clause;
  if (clause == nullptr || clause->relation != RELATION_INSIDE ||
      clause->target_type == TARGETTYPE_EVERYTHING || clause->target_type >= kTargetTypeCount)
    return false;
  const target_parameter& row = target_parameter_table[clause->target_type - 1];
  for (WORD member : row.member_signatures) {
    if (member != 0 && member == signature)
      return true;
  }
  return false;
}

/* Makes the walk's structure index (chunk_process_state::removal_index)
 * over the list the node stands in, at the first question. Each end closes
 * the latest begin still open of every signature it ends, as a scan from
 * the begin counting the begins of its own signature finds it; a CDEND
 * closes the latest bracket still open, or none; the brackets of hotspot
 * begins met since the last hotspot begin await the next. 263 when memory
 * runs out. */
STATUS MakeRemovalIndex(const record_storage* node, chunk_process_state* state) {
  chunk_process_state::structure_index& index = state->removal_index;
  if (index.made)
    return NOERROR;
  const record_storage* head = node;
  while (head->previous != nullptr)
    head = head->previous;
  struct open_begin {
    const record_storage* node;
    DWORD position;
  };
  try {
    std::vector<std::pair<WORD, std::vector<open_begin>>> open; // by begin signature
    std::vector<const record_storage*> brackets;
    std::vector<const record_storage*> awaiting; // brackets of hotspot begins
    DWORD position = 0;
    for (record_storage* at = const_cast<record_storage*>(head); at != nullptr;
         at = at->next, ++position) {
      const WORD signature = at->signature;
      if (IsHotspotBegin(signature)) {
        for (const record_storage* bracket : awaiting)
          index.next_hotspot_begin.emplace(bracket, at);
        awaiting.clear();
      }
      if (BracketsHotspotBegin(at))
        awaiting.push_back(at);
      if (StructureEndFor(signature) != 0) {
        auto family = std::find_if(open.begin(), open.end(),
                                   [&](const auto& entry) { return entry.first == signature; });
        if (family == open.end())
          family = open.insert(open.end(), {signature, {}});
        family->second.push_back({at, position});
      } else if (IsStructureEnd(signature)) {
        for (auto& [begin, stack] : open) {
          if (StructureEndFor(begin) != signature || stack.empty())
            continue;
          index.end_distance.emplace(stack.back().node, position - stack.back().position);
          stack.pop_back();
        }
      }
      if (IsBegin(at)) {
        brackets.push_back(at);
      } else if (IsEnd(at)) {
        if (!brackets.empty())
          brackets.pop_back();
      } else if (IsHotspotPart(signature)) {
        index.open_bracket.emplace(at, brackets.empty() ? nullptr : brackets.back());
      }
    }
  } catch (const std::bad_alloc&) {
    index.end_distance.clear();
    index.open_bracket.clear();
    index.next_hotspot_begin.clear();
    return VELKO_ERR_MEMORY;
  }
  index.made = true;
  return NOERROR;
}

/* Whether the structure the begin at the node opens ends past the chunk's
 * last record (known when the removal's method asked for it), or not at
 * all: the removals of hotspots, links and sections then keep it whole, as
 * they write no begin again. The walk's structure index is made. */
bool EndsPastChunk(const record_storage* begin, const chunk_process_state& state) {
  const auto& ends = state.removal_index.end_distance;
  const auto found = ends.find(begin);
  return found == ends.end() ||
         uint64_t{state.record_counter} + found->second > state.last_target_last;
}

/* A chunk that holds only one end of a structure (After a row runs to the
 * table's end, Before one from its begin) must not take that end alone:
 * the table or hotspot would be left open or closed twice. An end whose
 * begin the removal did not drop stays; a dropped begin whose end the
 * chunk does not reach is written again where the chunk closes
 * (WriteUnclosedBegins) after Remove, which drops everything between, and
 * stays in the other removals (EndsPastChunk). *stays tells whether the
 * record stays. */
STATUS KeepsStructure(const record_storage* node, chunk_process_state* state, bool* stays) {
  *stays = false;
  const WORD signature = node->signature;
  std::vector<const record_storage*>& begins = state->removed_begins;
  if (StructureEndFor(signature) != 0) {
    if (state->action != ACTION_REMOVE && state->last_target_last != 0) {
      if (STATUS status = MakeRemovalIndex(node, state); status != NOERROR)
        return status;
      if (EndsPastChunk(node, *state)) {
        *stays = true;
        return NOERROR;
      }
    }
    try {
      begins.push_back(node);
    } catch (const std::bad_alloc&) {
      return VELKO_ERR_MEMORY;
    }
    return NOERROR;
  }
  if (!IsStructureEnd(signature))
    return NOERROR;
  // Each family nests in itself only: a bracket around a hotspot's begin
  // closes while the hotspot is open.
  const auto begin = std::find_if(begins.rbegin(), begins.rend(), [&](const record_storage* at) {
    return StructureEndFor(at->signature) == signature;
  });
  if (begin == begins.rend())
    *stays = true;
  else
    begins.erase(std::next(begin).base());
  return NOERROR;
}

STATUS RemoveRecord(const char* record, WORD signature, chunk_record_output* output,
                    chunk_process_state* state) {
  if (signature == SIG_CD_PABDEFINITION) {
    if (STATUS status = SaveRemovedDefinition(record, state); status != NOERROR)
      return status;
  }
  if (KeepsFrame(signature, state))
    return NOERROR;
  const record_storage* node = state->current_record;
  bool stays = false;
  if (node != nullptr && node->data == record) {
    if (STATUS status = KeepsStructure(node, state, &stays); status != NOERROR)
      return status;
  }
  if (!stays)
    Drop(output);
  return NOERROR;
}

/* The begins of structures the removal dropped and the chunk did not
 * close, written where the chunk closes, outermost first. */
STATUS WriteUnclosedBegins(chunk_process_state* state) {
  for (const record_storage* begin : state->removed_begins) {
    if (STATUS status = CopyCDUpdated(begin->data, begin->signature, begin->length, &state->gen);
        status != NOERROR)
      return status;
  }
  state->removed_begins.clear();
  return NOERROR;
}

/* ---- RemoveHotspots ---- */

/* The nearest CDBEGIN before the hotspot part at the node that is still
 * open there, or null: a bracket closed before the node holds none of it.
 * The walk's structure index is made. */
const record_storage* OpenBeginBefore(const record_storage* node,
                                      const chunk_process_state& state) {
  const auto& brackets = state.removal_index.open_bracket;
  const auto found = brackets.find(node);
  return found != brackets.end() ? found->second : nullptr;
}

bool BracketsHotspotOrLink(WORD bracketed) {
  return IsHotspotBegin(bracketed) || IsLinkRecord(bracketed);
}

STATUS RemoveHotspotRecord(record_storage* node, chunk_record_output* output,
                           chunk_process_state* state) {
  const WORD signature = node->signature;
  const WORD bracketed = NodeBracket(node);
  bool drop = IsHotspotRecord(signature) || IsLinkRecord(signature) ||
              signature == SIG_CD_SECTIONBAR || signature == SIG_CD_BUTTON;
  if (IsEventRecord(signature)) {
    const WORD code = EventCode(node);
    drop = drop || code == 1 || code == 2 || code == 5;
  }
  if (IsBegin(node)) {
    if (IsHotspotBegin(bracketed)) {
      drop = true;
    } else if (bracketed == SIG_CD_SECTIONBAR || IsLinkRecord(bracketed)) {
      drop = true;
      MarkThroughNextEnd(state, node);
    }
  }
  if (IsEnd(node) && (IsHotspotRecord(bracketed) || IsLinkRecord(bracketed)))
    drop = true;
  if (IsHotspotPart(signature) && !drop) {
    if (STATUS status = MakeRemovalIndex(node, state); status != NOERROR)
      return status;
    const record_storage* begin = OpenBeginBefore(node, *state);
    drop = begin != nullptr && BracketsHotspotOrLink(NodeBracket(begin));
  }
  if (drop)
    Drop(output);
  return NOERROR;
}

/* ---- RemoveLinks ---- */

/* Whether the hotspot at `begin` is a link, judged on the records from it
 * to its first hotspot end. */
bool IsLinkHotspot(const record_storage* begin, bool keepActions) {
  for (const record_storage* node = begin; node != nullptr; node = node->next) {
    if (node != begin && IsHotspotEnd(node->signature))
      return true;
    if (IsHotspotBegin(node->signature)) {
      const WORD type = HotspotType(node);
      if (type == kHotspotTypeLink) {
        if (keepActions && (DwordAt(node, kHotspotFlagsOffset) & kHotspotFlagKeepable) != 0)
          return false;
      } else if (type != kHotspotTypeLinkResource) {
        return false;
      }
    } else if (IsEventRecord(node->signature)) {
      const WORD code = EventCode(node);
      if ((code == 1 && keepActions) || (code != 1 && code != 2))
        return false;
    }
  }
  return true;
}

/* The hotspot begin at the node, or the first one after the bracket of a
 * hotspot begin at the node (the walk's structure index is made); null
 * when there is none. */
record_storage* HotspotBeginFrom(record_storage* node, const chunk_process_state& state) {
  if (IsHotspotBegin(node->signature))
    return node;
  const auto& next = state.removal_index.next_hotspot_begin;
  const auto found = next.find(node);
  return found != next.end() ? found->second : nullptr;
}

/* A link: its hotspot records, link records and their brackets go, its
 * text stays. The scan ends at the first hotspot end of the link's own
 * nesting level (with the CDEND that brackets it). */
void RemoveLink(record_storage* node, chunk_record_output* output, chunk_process_state* state) {
  // From a CDBEGIN the link's own begin is still to come and counts when
  // met; from the begin itself the link is open already, so the end of a
  // hotspot nested in it is not taken for the link's.
  int depth = IsBegin(node) ? 0 : 1;
  bool endMet = false;
  for (record_storage* at = node->next; at != nullptr; at = at->next) {
    if (IsBegin(at) && IsLinkRecord(NodeBracket(at))) {
      Mark(state, at);
      at = MarkThroughNextEnd(state, at);
      if (at == nullptr)
        break;
      at = at->previous;
      continue;
    }
    if (BracketsHotspotRecord(at)) {
      Mark(state, at);
      if (endMet && IsEnd(at))
        break;
      continue;
    }
    if (endMet)
      break; // a hotspot end without a bracket around it
    if (IsHotspotBegin(at->signature)) {
      Mark(state, at);
      ++depth;
    } else if (IsHotspotEnd(at->signature)) {
      Mark(state, at);
      if (--depth <= 0)
        endMet = true;
    } else if (IsHotspotPart(at->signature) || IsEventRecord(at->signature) ||
               IsLinkRecord(at->signature)) {
      Mark(state, at);
    }
  }
  Drop(output);
}

STATUS RemoveLinkRecord(record_storage* node, chunk_record_output* output,
                        chunk_process_state* state) {
  if (IsHotspotBegin(node->signature) || (IsBegin(node) && BracketsHotspotBegin(node))) {
    if (STATUS status = MakeRemovalIndex(node, state); status != NOERROR)
      return status;
    record_storage* begin = HotspotBeginFrom(node, *state);
    if (begin == nullptr || !IsLinkHotspot(begin, state->p1 != 0))
      return NOERROR; // not a link: the record stays
    RemoveLink(node, output, state);
    return NOERROR;
  }
  if (IsLinkRecord(node->signature)) {
    Drop(output);
  } else if (IsBegin(node) && BracketsLink(node)) {
    Drop(output);
    MarkThroughNextEnd(state, node);
  }
  return NOERROR;
}

/* ---- RemoveSections ---- */

/* A section: its begin and end records (and those of the sections nested
 * in it), bars and their brackets go; its text and other content stay.
 * Hotspots of other kinds inside it stay whole. */
void RemoveSection(record_storage* node, chunk_record_output* output, chunk_process_state* state) {
  Drop(output);
  // From a CDBEGIN the section's own begin is still to come and counts
  // when met; from the begin itself the section is open already.
  int depth = IsBegin(node) ? 0 : 1;
  for (record_storage* at = node->next; at != nullptr; at = at->next) {
    if (IsSectionBegin(at)) {
      Mark(state, at);
      ++depth;
    } else if (IsHotspotBegin(at->signature)) {
      record_storage* end = HotspotEndOf(at);
      if (end == nullptr)
        return;
      at = end; // another hotspot stays whole
      if (at->next != nullptr && IsEnd(at->next) && BracketsHotspotRecord(at->next))
        at = at->next;
    } else if (IsHotspotEnd(at->signature)) {
      Mark(state, at);
      --depth;
      if (depth <= 0 && (at->next == nullptr || !IsEnd(at->next) ||
                         !BracketsHotspotRecord(at->next)))
        return;
    } else if (IsBegin(at) && BracketsHotspotRecord(at)) {
      record_storage* next = at->next;
      if (next != nullptr && IsSectionBegin(next)) {
        Mark(state, at);
      } else if (next != nullptr && IsHotspotBegin(next->signature)) {
        record_storage* end = HotspotEndOf(next);
        if (end == nullptr)
          return;
        at = end;
        if (at->next != nullptr && IsEnd(at->next) && BracketsHotspotRecord(at->next))
          at = at->next;
      } else {
        Mark(state, at); // the bracket of a section end
      }
    } else if (IsEnd(at) && BracketsHotspotRecord(at)) {
      Mark(state, at);
      if (depth <= 0)
        return;
    } else if (at->signature == SIG_CD_SECTIONBAR) {
      Mark(state, at);
    } else if (IsBegin(at) && NodeBracket(at) == SIG_CD_SECTIONBAR) {
      Mark(state, at);
      at = MarkThroughNextEnd(state, at);
      if (at == nullptr)
        return;
      at = at->previous;
    }
  }
}

void RemoveSectionRecord(record_storage* node, chunk_record_output* output,
                         chunk_process_state* state) {
  if (IsHotspotBegin(node->signature) || (IsBegin(node) && BracketsHotspotBegin(node))) {
    // The section's begin is the record itself or, after a bracket or a
    // hotspot begin of another kind, the next one.
    const record_storage* begin = IsSectionBeginSignature(node->signature) ? node : node->next;
    if (begin != nullptr && IsSectionBegin(begin))
      RemoveSection(node, output, state);
    return;
  }
  if (node->signature == SIG_CD_SECTIONBAR) {
    Drop(output);
  } else if (IsBracket(node->signature) && NodeBracket(node) == SIG_CD_SECTIONBAR) {
    Drop(output);
    MarkThroughNextEnd(state, node);
  }
}

/* ---- ExportGraphic ---- */

bool HoldsImageExtension(const char* name) {
  for (const char* at = name; *at != '\0'; ++at) {
    if (strncasecmp(at, ".gif", 4) == 0 || strncasecmp(at, ".jpg", 4) == 0)
      return true;
  }
  return false;
}

/* The name of the exported file, in the session's first scratch text: the
 * caller's name when it has an image extension; else the caller's name
 * (or, without one, the item's import-export file cut before its ".cd")
 * with the extension of the image's type. */
void FormExportName(const record_storage* header, chunk_process_state* state) {
  char* name = state->session->scratch_first;
  const size_t room = sizeof state->session->scratch_first;
  const char* given = state->s1 != nullptr ? state->s1 : "";
  if (HoldsImageExtension(given)) {
    snprintf(name, room, "%s", given);
    return;
  }
  const char* base = given;
  size_t baseLength = strlen(given);
  const char* itemFile = StateItem(state)->ImportExportFile;
  if (baseLength == 0 && itemFile != nullptr) {
    base = itemFile;
    baseLength = strlen(itemFile);
    for (const char* at = itemFile; *at != '\0'; ++at) {
      if (strncasecmp(at, ".cd", 3) == 0) {
        baseLength = static_cast<size_t>(at - itemFile);
        break;
      }
    }
  }
  const char* extension = WordAt(header, kImageTypeOffset) == kImageTypeGif ? "gif" : "jpg";
  snprintf(name, room, "%.*s.%s", static_cast<int>(baseLength), base, extension);
}

STATUS ExportGraphic(record_storage* node, chunk_process_state* state) {
  if (state->image_exported != 0)
    return NOERROR;
  if (node->signature == SIG_CD_BITMAPHEADER) {
    state->secondary_status = VELKO_ERR_BITMAP_EXPORT;
    ShowUserMessage("TARNO: ExportGraphic method for bitmaps requires Notes 6.0.2 or later, and "
                    "appropriate Tarno version");
    return VELKO_ERR_NO_INPUT;
  }
  if (node->signature != SIG_CD_IMAGEHEADER)
    return NOERROR;
  state->image_exported = 1;
  FormExportName(node, state);
  const STATUS status =
      GenerateGraphicFileFromCDRecords(state->session, state->session->scratch_first, node);
  if (status == NOERROR)
    state->session->scratch_first[0] = '\0';
  return status;
}

/* ---- SetImageHotspot ---- */

/* Once, at the end of the chunk's first image or image map: after an
 * image's CDEND that no map follows, the end and then a new map with the
 * area; at a map's CDEND, the area joins the map and the end follows it.
 * The end is copied here, so its output is dropped. */
STATUS WrapImageInHotspot(record_storage* node, chunk_record_output* output,
                          chunk_process_state* state) {
  if (state->once_done != 0 || !IsEnd(node))
    return NOERROR;
  const WORD bracketed = NodeBracket(node);
  if (bracketed == SIG_CD_GRAPHIC) {
    const record_storage* next = node->next;
    if (next != nullptr && IsBegin(next) && NodeBracket(next) == SIG_CD_MAPELEMENT)
      return NOERROR; // the area joins that map at its end
    if (STATUS status = EmitInputRecord(node->data, node->signature, node->length, state);
        status != NOERROR)
      return status;
    if (STATUS status = AddImageHotspot(node, state); status != NOERROR)
      return status;
  } else if (bracketed == SIG_CD_MAPELEMENT) {
    if (STATUS status = AddImageHotspot(node, state); status != NOERROR)
      return status;
    if (STATUS status = EmitInputRecord(node->data, node->signature, node->length, state);
        status != NOERROR)
      return status;
  } else {
    return NOERROR;
  }
  state->once_done = 1;
  Drop(output);
  return NOERROR;
}

/* ---- bitmaps to GIF ---- */

bool IsBitmapPart(WORD signature) {
  return signature == SIG_CD_BITMAPSEGMENT || signature == SIG_CD_COLORTABLE ||
         signature == SIG_CD_PATTERNTABLE || signature == kBitmapTransparencyTable;
}

/* A bitmap header stands for a converted image only when its conversion
 * succeeded; its parts go with it and stay otherwise. */
STATUS ConvertBitmap(record_storage* node, chunk_record_output* output,
                     chunk_process_state* state) {
  if (node->signature == SIG_CD_BITMAPHEADER) {
    state->bitmap_converted = 0;
    if (node->previous != nullptr && node->previous->signature == SIG_CD_STORAGELINK)
      return NOERROR;
    if (STATUS status = GenerateGIFRecordsFromBitmapRecords(state, node); status != NOERROR)
      return status;
    state->bitmap_converted = 1;
    Drop(output);
  } else if (IsBitmapPart(node->signature) && state->bitmap_converted != 0) {
    Drop(output);
  }
  return NOERROR;
}

} // namespace

STATUS ProcessRemovalAction(const char* record, WORD signature, DWORD length,
                            chunk_record_output* output, chunk_process_state* state) {
  record_storage* node = state->current_record;
  const bool ownNode = node != nullptr && node->data == record;
  switch (state->action) {
  case ACTION_REMOVE:
    return RemoveRecord(record, signature, output, state);
  case ACTION_SORT_BY_ROW: // the rows were appended again, sorted, where the chunk opened
  case ACTION_DROP_CHUNK:
    Drop(output);
    return NOERROR;
  case ACTION_EXPORT_GRAPHIC:
    return ownNode ? ExportGraphic(node, state) : NOERROR;
  case ACTION_CONVERT_BITMAPS:
    return ownNode ? ConvertBitmap(node, output, state) : NOERROR;
  case ACTION_SET_IMAGE_HOTSPOT:
    return ownNode ? WrapImageInHotspot(node, output, state) : NOERROR;
  default:
    break;
  }
  if (!ownNode)
    return NOERROR;
  if (IsMarked(node)) {
    Drop(output);
  } else {
    switch (state->action) {
    case ACTION_REMOVE_HOTSPOTS:
      if (STATUS status = RemoveHotspotRecord(node, output, state); status != NOERROR)
        return status;
      break;
    case ACTION_REMOVE_LINKS:
      if (STATUS status = RemoveLinkRecord(node, output, state); status != NOERROR)
        return status;
      break;
    case ACTION_REMOVE_SECTIONS:
      RemoveSectionRecord(node, output, state);
      break;
    default:
      return NOERROR;
    }
  }
  // A hotspot the chunk holds one end of stays whole, with the bar or
  // button right after a begin that stays.
  if (output->length != 0)
    return NOERROR;
  bool stays = (signature == SIG_CD_SECTIONBAR || signature == SIG_CD_BUTTON) &&
               node->previous != nullptr && node->previous == state->kept_begin;
  STATUS status = NOERROR;
  if (!stays)
    status = KeepsStructure(node, state, &stays);
  if (stays) {
    output->length = length;
    if (StructureEndFor(signature) != 0)
      state->kept_begin = node;
  }
  return status;
}

namespace {

/* A hotspot end closes a section when, looking back from it, a section bar
 * comes before any hotspot begin. A hotspot that begins and ends before
 * the end (a button held in the section) is passed over whole: its begin
 * does not make the section's end the end of a hotspot in the text. */
bool ClosesSection(const char* record, const chunk_process_state* state) {
  const record_storage* node = state->current_record;
  if (node == nullptr || node->data != record)
    return false;
  int closedHotspots = 0;
  for (const record_storage* at = node->previous; at != nullptr; at = at->previous) {
    if (IsHotspotEnd(at->signature)) {
      ++closedHotspots;
      continue;
    }
    if (closedHotspots > 0) {
      if (IsHotspotBegin(at->signature))
        --closedHotspots;
      continue;
    }
    if (at->signature == SIG_CD_SECTIONBAR)
      return true;
    if (IsSectionBeginSignature(at->signature))
      return false;
  }
  return false;
}


} // namespace

/* Where a removed range ends, the paragraph after it is mended, judged on
 * the record at which the chunk closed: before a top-level table or a
 * hotspot the reference comes first and a paragraph break ends it; before
 * other structure a paragraph break comes first, and the reference
 * follows unless the record is a cell, an image or a hotspot end of a
 * hotspot that stays open. Only the first kind of hotspot end (0x00AA)
 * is judged so; the other kinds take a reference alone. */
STATUS RemovalWorkAtChunkStop(const char* record, WORD signature, DWORD,
                              chunk_process_state* state) {
  if (state->writes == 0)
    return NOERROR;
  // The other removals wrote no begin again: a begin whose end lies past
  // the chunk's last record stayed, and a dropped one awaits its end where
  // the chunk opens again (Outside a target within the hotspot).
  if (state->action != ACTION_REMOVE)
    return NOERROR;
  if (STATUS status = WriteUnclosedBegins(state); status != NOERROR)
    return status;
  if (signature == SIG_CD_TABLEBEGIN || signature == SIG_CD_HOTSPOTBEGIN) {
    if (STATUS status = EmitReference(state); status != NOERROR)
      return status;
    return EmitParagraph(state);
  }
  const bool hotspotEnd = signature == SIG_CD_HOTSPOTEND;
  const bool closingEnd = hotspotEnd && ClosesSection(record, state);
  const bool paragraph = IsTableEnd(signature) || signature == SIG_CD_NESTEDTABLEBEGIN ||
                         closingEnd;
  const bool reference = !(IsTableCell(signature) || signature == SIG_CD_GRAPHIC ||
                           (hotspotEnd && !closingEnd));
  if (paragraph) {
    if (STATUS status = EmitParagraph(state); status != NOERROR)
      return status;
  }
  return reference ? EmitReference(state) : NOERROR;
}
