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

/* Each block tidy gets is preceded by this header, linking the blocks so
 * that all are freed when tidy's own state must be abandoned. */
struct alignas(16) tidy_parser::block {
  block* previous;
  block* next;
};

namespace {

std::once_flag languageOnce;

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
  std::call_once(languageOnce, [] { tidySetLanguage("en"); });
}

tidy_parser::~tidy_parser() {
  if (!broken_) {
    if (messages_.allocator != nullptr)
      Guarded(this, [&] { tidyBufFree(&messages_); });
    if (document_ != nullptr)
      Guarded(this, [&] { tidyRelease(document_); });
  }
  FreeAll();
}

void tidy_parser::Fail() {
  LogOutOfMemory(VELKO_HERE);
  longjmp(*static_cast<jmp_buf*>(jump_), 1);
}

void* tidy_parser::Allocate(TidyAllocator* self, size_t size) {
  auto* parser = reinterpret_cast<tidy_parser*>(self);
  auto* node = static_cast<block*>(
      VelkoAllocatePtr(parser->session_, VELKO_HERE, sizeof(block) + size, 0));
  if (node == nullptr)
    parser->Fail();
  node->previous = nullptr;
  node->next = parser->blocks_;
  if (parser->blocks_ != nullptr)
    parser->blocks_->previous = node;
  parser->blocks_ = node;
  return node + 1;
}

void* tidy_parser::Reallocate(TidyAllocator* self, void* data, size_t size) {
  if (data == nullptr)
    return Allocate(self, size);
  auto* parser = reinterpret_cast<tidy_parser*>(self);
  block* old = static_cast<block*>(data) - 1;
  block* previous = old->previous;
  block* next = old->next;
  auto* node = static_cast<block*>(
      VelkoReallocatePtr(parser->session_, VELKO_HERE, old, sizeof(block) + size));
  if (node == nullptr)
    parser->Fail(); // the old block stays linked and is freed with the rest
  if (previous != nullptr)
    previous->next = node;
  else
    parser->blocks_ = node;
  if (next != nullptr)
    next->previous = node;
  return node + 1;
}

void tidy_parser::Free(TidyAllocator* self, void* data) {
  if (data == nullptr)
    return;
  auto* parser = reinterpret_cast<tidy_parser*>(self);
  block* node = static_cast<block*>(data) - 1;
  parser->Unlink(node);
  VelkoDeallocatePtr(parser->session_, node);
}

void tidy_parser::Panic(TidyAllocator* self, ctmbstr) {
  reinterpret_cast<tidy_parser*>(self)->Fail();
}

void tidy_parser::Unlink(block* node) {
  if (node->previous != nullptr)
    node->previous->next = node->next;
  else
    blocks_ = node->next;
  if (node->next != nullptr)
    node->next->previous = node->previous;
}

void tidy_parser::FreeAll() {
  while (blocks_ != nullptr) {
    block* node = blocks_;
    blocks_ = node->next;
    VelkoDeallocatePtr(session_, node);
  }
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

bool tidy_parser::NodeText(TidyNode node, std::string* text) {
  TidyBuffer value = {};
  bool got = false;
  const bool done = Guarded(this, [&] {
    tidyBufInitWithAllocator(&value, &allocator_);
    got = tidyNodeGetValue(document_, node, &value) != no;
  });
  if (!done)
    return false;
  if (got && value.bp != nullptr)
    text->assign(reinterpret_cast<const char*>(value.bp), value.size);
  Guarded(this, [&] { tidyBufFree(&value); });
  return !broken_;
}
