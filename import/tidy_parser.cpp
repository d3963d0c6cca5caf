/*
 * The importer's tidy-html5 document over tracked session memory, with a
 * setjmp guard around each tidy call that may allocate.
 */
#include "import/tidy_parser.h"

#include <setjmp.h>
#include <cstddef>
#include <string.h>

#include <mutex>

#include "store/messages.h"
#include "store/tracked_memory.h"

/* Each block tidy gets is preceded by this header: the bytes it can hold,
 * and the next block of the large list or of a free list. */
struct alignas(16) tidy_parser::block {
  size_t capacity;
  block* next;
};

/* A slab's header; small blocks follow it. */
struct alignas(16) tidy_parser::slab {
  slab* next;
};

namespace {

/* The most a text buffer keeps between texts. */
constexpr uint kKeptTextBytes = 4096;

std::once_flag preparedOnce;

/* What tidy shares between all its documents, set up once before any
 * parser runs: its language, and its character table, which every new
 * document fills in again. While the first documents of the process were
 * made, a document parsing on another thread could read the table half
 * filled; the one document made here fills it first, so that documents
 * made later only write again the bits it already holds. */
void PrepareTidy() {
  tidySetLanguage("en");
  tidyRelease(tidyCreate());
}

} // namespace

/* Runs the tidy call; false when an allocation in it was refused (the
 * parser is then broken). Nothing with a destructor lives between the
 * setjmp and the tidy frames a refusal jumps out of. */
template <typename Call> bool Guarded(tidy_parser* parser, const Call& call) {
  if (parser->broken_)
    return false;
  jmp_buf jump;
  parser->jump_ = &jump;
  if (setjmp(jump) != 0) {
    parser->jump_ = nullptr;
    parser->broken_ = true;
    return false;
  }
  call();
  parser->jump_ = nullptr;
  return true;
}

tidy_parser::tidy_parser(LSXLsiSession* session) : session_(session) {
  static const TidyAllocatorVtbl vtbl = {Allocate, Reallocate, Free, Panic};
  allocator_.vtbl = &vtbl;
  std::call_once(preparedOnce, PrepareTidy);
}

tidy_parser::~tidy_parser() {
  // Every block tidy holds is ours: freeing them all at once releases the
  // document and the message and text buffers without walking tidy's tree.
  FreeAll();
}

void tidy_parser::Fail() {
  LogOutOfMemory(VELKO_HERE);
  longjmp(*static_cast<jmp_buf*>(jump_), 1);
}

/* A small block of the capacity from the newest slab, or from a new one. */
tidy_parser::block* tidy_parser::CutSmall(size_t capacity) {
  const size_t whole = sizeof(block) + capacity;
  if (slab_left_ < whole) {
    auto* fresh = static_cast<slab*>(
        VelkoAllocatePtr(session_, VELKO_HERE, sizeof(slab) + kSlabSize, 0));
    if (fresh == nullptr)
      Fail();
    fresh->next = slabs_;
    slabs_ = fresh;
    slab_next_ = reinterpret_cast<char*>(fresh + 1);
    slab_left_ = kSlabSize;
  }
  auto* node = reinterpret_cast<block*>(slab_next_);
  slab_next_ += whole;
  slab_left_ -= whole;
  node->capacity = capacity;
  return node;
}

/* A block of at least size bytes: a small one from its free list or a
 * slab, a larger one of its own. */
tidy_parser::block* tidy_parser::Take(size_t size) {
  if (size <= kLargestSmall) {
    const size_t slot = size == 0 ? 0 : (size - 1) / kGrain;
    if (block* node = free_[slot]; node != nullptr) {
      free_[slot] = node->next;
      return node;
    }
    return CutSmall((slot + 1) * kGrain);
  }
  auto* node = static_cast<block*>(VelkoAllocatePtr(session_, VELKO_HERE, sizeof(block) + size, 0));
  if (node == nullptr)
    Fail();
  node->capacity = size;
  node->next = large_;
  large_ = node;
  return node;
}

/* Takes back a block tidy freed: a small one onto its free list, a large
 * one out of the large list and back to the session. */
void tidy_parser::Give(block* node) {
  if (node->capacity <= kLargestSmall) {
    const size_t slot = node->capacity / kGrain - 1;
    node->next = free_[slot];
    free_[slot] = node;
    return;
  }
  for (block** link = &large_; *link != nullptr; link = &(*link)->next) {
    if (*link == node) {
      *link = node->next;
      break;
    }
  }
  VelkoDeallocatePtr(session_, node);
}

void* tidy_parser::Allocate(TidyAllocator* self, size_t size) {
  return reinterpret_cast<tidy_parser*>(self)->Take(size) + 1;
}

void* tidy_parser::Reallocate(TidyAllocator* self, void* data, size_t size) {
  if (data == nullptr)
    return Allocate(self, size);
  auto* parser = reinterpret_cast<tidy_parser*>(self);
  block* old = static_cast<block*>(data) - 1;
  if (size <= old->capacity)
    return data;
  // The old block stays tidy's until the new one is had.
  block* node = parser->Take(size);
  memcpy(node + 1, data, old->capacity);
  parser->Give(old);
  return node + 1;
}

void tidy_parser::Free(TidyAllocator* self, void* data) {
  if (data == nullptr)
    return;
  reinterpret_cast<tidy_parser*>(self)->Give(static_cast<block*>(data) - 1);
}

void tidy_parser::Panic(TidyAllocator* self, ctmbstr) {
  reinterpret_cast<tidy_parser*>(self)->Fail();
}

void tidy_parser::FreeAll() {
  while (large_ != nullptr) {
    block* node = large_;
    large_ = node->next;
    VelkoDeallocatePtr(session_, node);
  }
  while (slabs_ != nullptr) {
    slab* piece = slabs_;
    slabs_ = piece->next;
    VelkoDeallocatePtr(session_, piece);
  }
  slab_next_ = nullptr;
  slab_left_ = 0;
  for (block*& list : free_)
    list = nullptr;
}

STATUS tidy_parser::Parse(std::string_view utf8) {
  int parsed = -1;
  const bool done = Guarded(this, [&] {
    document_ = tidyCreateWithAllocator(&allocator_);
    tidyBufInitWithAllocator(&messages_, &allocator_);
    tidySetErrorBuffer(document_, &messages_);
    tidyOptSetBool(document_, TidyShowWarnings, no);
    tidyOptSetBool(document_, TidyQuiet, yes);
    tidyOptSetBool(document_, TidyMark, no);
    tidyOptSetBool(document_, TidyKeepTabs, yes);
    tidyOptSetBool(document_, TidyWord2000, yes);
    tidyOptSetBool(document_, TidyMergeEmphasis, yes);
    tidyOptSetBool(document_, TidyDropEmptyParas, no);
    tidyOptSetBool(document_, TidyDropPropAttrs, no);
    tidySetInCharEncoding(document_, "utf8");
    TidyBuffer input = {};
    tidyBufInitWithAllocator(&input, &allocator_);
    tidyBufAttach(&input, reinterpret_cast<byte*>(const_cast<char*>(utf8.data())),
                  static_cast<uint>(utf8.size()));
    parsed = tidyParseBuffer(document_, &input);
    tidyBufDetach(&input);
    if (parsed >= 0)
      parsed = tidyCleanAndRepair(document_);
  });
  if (!done)
    return VELKO_ERR_MEMORY;
  return parsed < 0 ? STATUS{VELKO_STATUS_INLINE_HTML} : STATUS{NOERROR};
}

bool tidy_parser::NodeText(TidyNode node, std::string_view* text) {
  bool got = false;
  const bool done = Guarded(this, [&] {
    // tidy clears the buffer's whole allocation before each text: a buffer
    // a long text grew is given back, so that the short texts after it do
    // not each pay for clearing it.
    if (text_.allocated > kKeptTextBytes) {
      tidyBufFree(&text_);
      tidyBufInitWithAllocator(&text_, &allocator_);
    }
    if (text_.allocator == nullptr)
      tidyBufInitWithAllocator(&text_, &allocator_);
    // tidyNodeGetValue empties the buffer before it writes a text.
    got = tidyNodeGetValue(document_, node, &text_) != no;
  });
  if (!done)
    return false;
  *text = got && text_.bp != nullptr
              ? std::string_view(reinterpret_cast<const char*>(text_.bp), text_.size)
              : std::string_view();
  return true;
}
