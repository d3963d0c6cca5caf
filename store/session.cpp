/*
 * The session: registry of live items and chunks, owner of the tracked
 * memory pool, the shared text buffers and the cache chain, and the place
 * where the session's temporary directory is fixed.
 */
#include "store/host_release.h"
#include "store/new_object.h"
#include "store/session.h"
#include "store/view_selection.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <utility>

#include "host/osenv.h"
#include "host/oslog.h"
#include "host/osmem.h"

LSXLsiSession::LSXLsiSession() {
  std::memset(result_text, 0, sizeof result_text);
  std::memset(scratch_first, 0, sizeof scratch_first);
  std::memset(scratch_second, 0, sizeof scratch_second);
  std::memset(scratch_third, 0, sizeof scratch_third);
  internal = NewPrivateBlock<_internal_SESS>();
}

void ForgetLinkCacheKeys(_internal_SESS* state) {
  state->link_cache_server[0] = '\0';
  state->link_cache_database[0] = '\0';
  state->link_cache_view[0] = '\0';
  state->link_cache_reference_field[0] = '\0';
  state->link_cache_result_formula[0] = '\0';
  state->link_cache_build_time = 0;
  state->link_cache_keyword_count = 0;
}

LSXLsiSession::~LSXLsiSession() {
  // Each item's destructor unlinks it and deletes its chunks.
  while (items != nullptr)
    delete items;
  while (chunks != nullptr)
    delete chunks;

  if (link_matching_info* matcher = internal->link_matcher) {
    // The handles are freed here once and cleared, so that the matcher's own
    // destructor does not free them a second time.
    for (DHANDLE& handle : matcher->keyword_lists) {
      if (handle != NULLHANDLE)
        ReleaseHostMemory(handle);
      handle = NULLHANDLE;
    }
    if (matcher->note_ids != NULLHANDLE)
      ReleaseHostMemory(matcher->note_ids);
    matcher->note_ids = NULLHANDLE;
    matcher->note_ids_locked = nullptr;
    delete matcher;
    internal->link_matcher = nullptr;
  }
  ForgetLinkCacheKeys(internal);

  CloseCachedViewCollection(this);
  FreeSortedIdList(this);
  CleanUpCachedStuff();
  VelkoDeallocateAndFreeAll(this, 0);
  delete internal;
  internal = nullptr;
}

namespace {

/* The list of one kind of object and the index of the object before each
 * one in it. */
template <typename Object> struct listed_objects {
  Object** head;
  std::unordered_map<const Object*, Object*>* before;
  bool* unindexed;
};

/* Pushes the object at the head of its list; one already in it stays where
 * it is. When the index cannot grow, the list goes on without it (found
 * by a walk from then on), so that a constructor never fails here. */
template <typename Object> void PushAtHead(listed_objects<Object> list, Object* object) {
  if (object == nullptr)
    return;
  if (!*list.unindexed) {
    try {
      if (!list.before->emplace(object, nullptr).second)
        return;
    } catch (const std::bad_alloc&) {
      list.before->clear();
      *list.unindexed = true;
    }
  }
  object->next = *list.head;
  if (!*list.unindexed && *list.head != nullptr)
    list.before->find(*list.head)->second = object;
  *list.head = object;
}

/* Takes the object out of its list; one not in it is left alone. Nothing
 * is allocated, so it serves destructors. */
template <typename Object> void Unlink(listed_objects<Object> list, Object* object) {
  if (*list.unindexed) {
    for (Object** link = list.head; *link != nullptr; link = &(*link)->next) {
      if (*link == object) {
        *link = object->next;
        object->next = nullptr;
        return;
      }
    }
    return;
  }
  auto found = list.before->find(object);
  if (found == list.before->end())
    return;
  Object* previous = found->second;
  (previous != nullptr ? previous->next : *list.head) = object->next;
  if (object->next != nullptr)
    list.before->find(object->next)->second = previous;
  object->next = nullptr;
  list.before->erase(found);
}

} // namespace

void LSXLsiSession::AddToRTITEMList(VelkoRTItem* item) {
  PushAtHead<VelkoRTItem>({&items, &internal->item_before, &internal->items_unindexed}, item);
}

void LSXLsiSession::RemoveFromRTITEMList(VelkoRTItem* item) {
  Unlink<VelkoRTItem>({&items, &internal->item_before, &internal->items_unindexed}, item);
}

void LSXLsiSession::AddToRTCHUNKList(VelkoRTChunk* chunk) {
  PushAtHead<VelkoRTChunk>({&chunks, &internal->chunk_before, &internal->chunks_unindexed},
                           chunk);
}

void LSXLsiSession::RemoveFromRTCHUNKList(VelkoRTChunk* chunk) {
  Unlink<VelkoRTChunk>({&chunks, &internal->chunk_before, &internal->chunks_unindexed}, chunk);
}

cached_stuff_node* LSXLsiSession::CreateCachedStuff() {
  auto* node = NewObject<cached_stuff_node>();
  if (node == nullptr)
    return nullptr;
  node->buffer = static_cast<char*>(std::calloc(1, kCachedStuffSize));
  if (node->buffer == nullptr) {
    delete node;
    return nullptr;
  }
  cached_stuff_node** tail = &internal->cached_stuff;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = node;
  return node;
}

void LSXLsiSession::CleanUpCachedStuff() {
  while (cached_stuff_node* node = internal->cached_stuff) {
    internal->cached_stuff = node->next;
    std::free(node->buffer);
    delete node;
  }
}

namespace {

// Copies a directory into the session's temp_directory so that it ends in
// exactly one "/". False when it cannot fit.
bool SetTempDirectory(_internal_SESS* internal, const char* path) {
  char (&temp_directory)[sizeof internal->temp_directory] = internal->temp_directory;
  size_t length = std::strlen(path);
  while (length > 1 && path[length - 1] == '/' && path[length - 2] == '/')
    --length;
  bool needsSeparator = length == 0 || path[length - 1] != '/';
  size_t total = length + (needsSeparator ? 1 : 0);
  if (total >= sizeof temp_directory)
    return false;
  std::memcpy(temp_directory, path, length);
  if (needsSeparator)
    temp_directory[length] = '/';
  temp_directory[total] = '\0';
  internal->temp_directory_len = static_cast<WORD>(total);
  return true;
}

const char* EnvironmentTempDirectory() {
  for (const char* name : {"TEMP", "TMP"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0' &&
        std::strlen(value) < sizeof(_internal_SESS::temp_directory) - 1)
      return value;
  }
  return "/tmp/";
}

}  // namespace

void LSXLsiSession::InitializeTempDirectory() {
  // The setting is read into a buffer larger than the directory so that an
  // over-long value is recognised rather than silently cut.
  char setting[sizeof internal->temp_directory + 2] = {};
  bool fromSetting = false;
  if (OSGetEnvironmentString("$TarnoTempDirectory", setting, sizeof setting) && setting[0] != '\0') {
    fromSetting = SetTempDirectory(internal, setting);
    if (!fromSetting)
      AddInLogMessageText("TARNO: $TarnoTempDirectory is too long, using the system's temporary "
                          "directory instead",
                          0);
  }
  if (!fromSetting)
    SetTempDirectory(internal, EnvironmentTempDirectory());
  if (OSGetEnvironmentLong("TarnoDebug") > 0)
    AddInLogMessageText("TarnoDebug: Temp directory='%s'", 0, internal->temp_directory);
}

void LSXLsiSession::SetControlBreak(WORD (*test)(void)) { internal->ControlBreak = test; }

link_matching_info::link_matching_info(LSXLsiSession* owner) : session(owner) {}

link_matching_info::~link_matching_info() {
  for (DHANDLE handle : keyword_lists) {
    if (handle == NULLHANDLE)
      break;
    ReleaseHostMemory(handle);
  }
  if (note_ids != NULLHANDLE)
    ReleaseHostMemory(note_ids);
  VelkoDeallocatePtr(session, matched_words);
  VelkoDeallocatePtr(session, first_characters);
  // The index outlives the table, for a table built again of its keywords.
  if (index != nullptr && session != nullptr && session->internal != nullptr)
    session->internal->spare_keyword_index = std::move(index);
}
