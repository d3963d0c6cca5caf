/*
 * The session's private state.
 *
 * _internal_SESS grows with the subsystems that keep per-operation words in
 * it; every area starts zeroed. It also holds what the engine keeps from
 * one operation to the next (the last record type emitted, the debug level,
 * the mirrored item switches, the temporary directory), so that sessions on
 * different threads share nothing. The link matcher's table is only made and
 * destroyed here; the matcher itself fills and reads it.
 */
#ifndef VELKO_STORE_SESSION_H
#define VELKO_STORE_SESSION_H

#include <memory>
#include <string>
#include <unordered_map>

#include "host/cdrecords.h"
#include "host/nsfdata.h"
#include "velko/velko.h"
#include "store/tracked_memory.h"

/* Size of each buffer in the session's cache chain. */
constexpr DWORD kCachedStuffSize = 0x100000;
constexpr size_t kEmitterScratchSize = 130812;
constexpr int kKeywordListHandles = 10;

struct cached_stuff_node {
  DWORD size = kCachedStuffSize;
  DWORD used = 0;
  char* buffer = nullptr; /* zeroed at creation */
  cached_stuff_node* next = nullptr;
};

struct keyword_index;

/* The keyword table cached by the link matcher. */
struct link_matching_info {
  explicit link_matching_info(LSXLsiSession* session);
  ~link_matching_info();
  link_matching_info(const link_matching_info&) = delete;
  link_matching_info& operator=(const link_matching_info&) = delete;

  LSXLsiSession* session = nullptr;
  DHANDLE keyword_lists[kKeywordListHandles] = {};
  DHANDLE note_ids = NULLHANDLE; /* note-ID array */
  void* note_ids_locked = nullptr;
  char* matched_words = nullptr;     /* tracked */
  char* first_characters = nullptr;  /* tracked */
  WORD minimum_length = 0;
  WORD match_mode = 0;
  DWORD SingleMatch = 0;
  DWORD ReplaceExtra = 0;
  WORD first_word_index[26] = {};
  /* The matching action's index of the keywords (engine/keyword_index.h),
   * made at its first use and dropped with the table. */
  std::unique_ptr<keyword_index, void (*)(keyword_index*)> index{nullptr, nullptr};
};

/* The parts of a document link, each present when its flag is 'Y': the
 * note link's replica ID, view UNID and note UNID, then the popup text,
 * hint server and anchor text. */
enum link_part : int {
  kLinkPartReplica = 0,
  kLinkPartView = 1,
  kLinkPartNote = 2,
  kLinkPartPopup = 3,
  kLinkPartHint = 4,
  kLinkPartAnchor = 5,
  kLinkParts = 6,
};
struct link_parts {
  char present[kLinkParts] = {};
  NOTELINK link = {}; /* the replica ID, view and note UNIDs */
  std::string popup;
  std::string hint;
  std::string anchor;
};

struct _internal_SESS {
  NLS_PINFO nls_info = nullptr; /* stays null: the host's own character set */
  link_matching_info* link_matcher = nullptr;
  /* The keyword index of the last keyword table dropped (see
   * engine/keyword_index.h): a table built again of the same keywords takes
   * it over instead of filing them anew. */
  std::unique_ptr<keyword_index, void (*)(keyword_index*)> spare_keyword_index{nullptr, nullptr};

  /* Keys of the cached link matcher and the two words kept with them. */
  char link_cache_server[256] = {};
  char link_cache_database[256] = {};
  char link_cache_view[256] = {};
  char link_cache_reference_field[64] = {};
  char link_cache_result_formula[64] = {};
  DWORD link_cache_build_time = 0;
  WORD link_cache_keyword_count = 0;
  /* Set by the matching action when a pass turned a keyword into a link. */
  DWORD link_match_found = 0;
  /* While LinkMatching runs: its started value formula (the per-match
   * result) and properties formula, each 0 when there is none. */
  DHANDLE link_value_formula = NULLHANDLE;
  DHANDLE link_properties_formula = NULLHANDLE;

  char emitter_scratch[kEmitterScratchSize] = {};
  /* Bytes of the scratch area from its start that may not be 0; all
   * behind them are. */
  DWORD emitter_scratch_used = 0;

  /* The object before each live item and chunk in the session's lists
   * (null for the head), so that one leaves its list without a walk; a
   * list whose index could not grow for want of memory is walked instead
   * from then on. */
  std::unordered_map<const VelkoRTItem*, VelkoRTItem*> item_before;
  std::unordered_map<const VelkoRTChunk*, VelkoRTChunk*> chunk_before;
  bool items_unindexed = false;
  bool chunks_unindexed = false;

  /* Freed host memory blocks stay locked; never changed after creation. */
  DWORD keep_locked = 1;

  /* Face-id remap of the last font-table merge: entry i maps the i-th face
   * of the merged-in table to its id in the item's note (0xFF: none). */
  WORD face_remap_count = 0;
  BYTE face_remap_source[255] = {};
  BYTE face_remap_target[255] = {};

  cached_stuff_node* cached_stuff = nullptr;
  velko_allocation* pool = nullptr;
  /* Lookup structures over the pool (free blocks by size, blocks by data
   * address), so that taking and releasing a block does not walk it. */
  struct tracked_pool_index* pool_index = nullptr;

  /* ---- words of one chunk operation (set by the chunk, read by the
   * engine, or answered by the engine) ---- */
  /* Paragraph-definition id at the chunk, left by action 37 for the next
   * append, and the word after it; cleared together. */
  WORD append_parameter = 0;
  WORD append_parameter_2 = 0;
  /* One extra text for one action (null otherwise); not owned. */
  const char* parameter_text = nullptr;
  /* The files of one file-attachment append that attaches several (null
   * otherwise); not owned. */
  const struct attachment_batch* attachment_batch = nullptr;
  /* Hotspot type, code kind and a further word; cleared before each hotspot. */
  WORD hotspot_type = 0;
  DWORD hotspot_code_kind = 0;
  DWORD hotspot_word = 0;
  /* Answers of query action 1: the first is non-zero when the chunk's target
   * was found (record numbers are 32-bit). */
  DWORD found_first = 0;
  DWORD found_second = 0;
  /* First and last record of the last target found. */
  DWORD last_target_first = 0;
  DWORD last_target_last = 0;
  WORD property_word_a = 0; /* result class 14 */
  WORD property_word_b = 0; /* result class 18: the record type */
  WORD pabid_word = 0;      /* result class 20 */
  /* Texts of table cells for row and table appends (20 used). */
  char* cell_texts[64] = {};
  WORD column_widths[64] = {};     /* twips */
  WORD column_width_flags[64] = {};
  DWORD column_width_total = 0;
  /* Left by AppendRTItem: the source item's name and its database and note. */
  const char* append_item_name = nullptr;
  DBHANDLE append_db = NULLHANDLE;
  NOTEHANDLE append_note = NULLHANDLE;
  /* Face map of an append: pairs of source and target face ids. */
  WORD face_map_count = 0;
  BYTE face_map[255][2] = {};
  /* Colour and colour flags written by the font override. */
  DWORD override_color = 0;
  WORD override_color_flags = 0;
  /* Option string the chunk operation left for the engine (not owned). */
  const char* option_string = nullptr;
  /* Set by the table-append operation: a generated table without
   * properties adjusts to the window, and its cells get fractional widths. */
  DWORD adjustable_table = 0;
  /* The cell colour the CellColor property sets for action 2394: a palette
   * index with RGB 0, or index 0 with an RGB value (0x00BBGGRR). */
  WORD cell_color_index = 0;
  DWORD cell_color_rgb = 0;

  /* ---- the record emitter ---- */
  /* Paragraph definitions removed or replaced by an operation, emitted
   * again before the first reference to their id: owned copies, listed in
   * a tracked block of saved_definition_room entries that grows as
   * needed. Past kMaxSavedDefinitions entries the host is told once. */
  static constexpr int kMaxSavedDefinitions = 1000;
  char** saved_definitions = nullptr;
  DWORD saved_definition_room = 0;
  DWORD saved_definition_count = 0;
  /* While on, every record node appended gets the match-marker flag. */
  DWORD marker_switch = 0;
  /* The signature of the last record the session's emitters appended; it
   * outlives operations. */
  WORD previous_record_type = 0;

  /* ---- kept from one operation to the next ---- */
  /* The diagnostic level: trace lines are written only at or above their
   * own level. */
  WORD debug_level = 0;
  /* Mirrors of the last item's SuppressMessages and ClientPreference (1:
   * the host's colour names, 0: web names). */
  WORD GlobalSuppressMessages = 0;
  WORD global_client_preference = 1;
  /* Compare flags of the last row sort (INTL_ACCENT_SENSITIVE,
   * INTL_CASE_SENSITIVE). */
  WORD sort_compare_flags = 0;
  /* Set by the hotspot actions when a colour was given; cleared at the
   * start of every chunk operation. */
  DWORD global_rgb_set = 0;
  /* The break test the host installed for this session (null: the one in
   * the global ControlBreak, if any). */
  WORD (*ControlBreak)(void) = nullptr;
  /* The temporary directory, ending in "/" (empty until fixed). */
  char temp_directory[257] = {};
  WORD temp_directory_len = 0;

  /* ---- view selection ---- */
  /* Note IDs in view order from the last call that asked for them
   * (tracked; null when none) and their count. */
  NOTEID* sorted_IdList = nullptr;
  WORD sorted_IdList_count = 0;
  /* The view collection kept open (0 when none), with the database and
   * the view name it was opened for. */
  DHANDLE cached_collection = NULLHANDLE;
  DBHANDLE cached_collection_db = NULLHANDLE;
  char cached_collection_view[256] = {};

  /* ---- links the generators write ---- */
  /* The database document links point into and the view they name, set by
   * the caller before links are made from note IDs or a selection. */
  DBHANDLE link_db = NULLHANDLE;
  TIMEDATE link_replica = {};
  UNID link_view = {};
  /* The note link parsed from the event data of the last event-data link
   * (the first area; the second is kept for the matcher). */
  NOTELINK link_areas[2] = {};
  /* What the last event-data link parsed and chose, read by the chunk
   * engine afterwards: 'Y' per part parsed (replica ID, view, note), and
   * the popup text, server hint and anchor written. */
  char to_doclink[3] = {};
  std::string to_popup;
  std::string to_hint;
  std::string to_anchor;
  /* The link property rewrite: the parts it writes into every link, and
   * the parts a link must hold to be rewritten (none set by the library,
   * so that every link passes). */
  link_parts link_new_parts;
  link_parts link_filter_parts;
};

/* Forgets the keys of the cached keyword table (server, database, view,
 * fields, build time, count), so that the next matching builds it again. */
void ForgetLinkCacheKeys(_internal_SESS* state);

#endif
