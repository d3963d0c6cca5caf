/*
 * Converting a note's MIME items to a rich-text item of the same name: the
 * items are joined into the message, the message is read (export/
 * mime_read.h), and a new item is written through the HTML import with
 * the message's inline parts and attachments. On failure the note gets its
 * MIME items back as they were.
 */
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "export/mime_read.h"
#include "host/mime_items.h"
#include "host/nls.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "store/messages.h"
#include "store/new_object.h"
#include "store/services.h"
#include "store/session.h"

namespace {

constexpr const char* kFallbackTempDirectory = "/tmp/";
constexpr const char* kFileItem = "$FILE";
constexpr int kRestoreTries = 3;

/* Sessions converting on this thread: a conversion does not start another
 * on the same session. */
thread_local std::vector<const LSXLsiSession*> converting;

class conversion_guard {
public:
  explicit conversion_guard(const LSXLsiSession* session) : session_(session) {
    for (const LSXLsiSession* busy : converting)
      if (busy == session)
        return;
    converting.push_back(session);
    entered_ = true;
  }
  ~conversion_guard() {
    if (entered_)
      std::erase(converting, session_);
  }
  conversion_guard(const conversion_guard&) = delete;
  conversion_guard& operator=(const conversion_guard&) = delete;
  bool entered() const { return entered_; }

private:
  const LSXLsiSession* session_;
  bool entered_ = false;
};

WORD NameLength(const char* name) { return static_cast<WORD>(std::strlen(name)); }

/* The MIME items of the name: their values (type word first) in order, and
 * the message they hold. 546 when there are none, 1028 when one does not
 * hold a MIME part. */
STATUS ReadMimeItems(NOTEHANDLE note, const char* name, std::vector<std::string>* values,
                     std::string* message) {
  BLOCKID itemBid{};
  BLOCKID valueBid{};
  WORD type = 0;
  DWORD length = 0;
  STATUS status =
      NSFItemInfo(note, name, NameLength(name), &itemBid, &type, &valueBid, &length);
  while (status == NOERROR) {
    if (type == TYPE_MIME_PART) {
      const char* value = static_cast<const char*>(OSLockBlock(valueBid));
      if (value == nullptr)
        return ERR_MEMORY;
      MIME_PART_SPANS spans{};
      const bool readable = MIMEPartSpans(value, length, &spans) == NOERROR;
      if (readable) {
        values->emplace_back(value, length);
        message->append(spans.Boundary, spans.BoundaryLength)
            .append(spans.Headers, spans.HeadersLength)
            .append(spans.Content, spans.ContentLength);
      }
      OSUnlockBlock(valueBid);
      if (!readable)
        return ERR_NOT_FOUND;
    }
    const BLOCKID previous = itemBid;
    status = NSFItemInfoNext(note, previous, name, NameLength(name), &itemBid, &type, &valueBid,
                             &length);
  }
  if ((status & STATUS_CODE_MASK) != ERR_ITEM_NOT_FOUND)
    return status;
  return values->empty() ? STATUS{ERR_ITEM_NOT_FOUND} : STATUS{NOERROR};
}

/* The highest serial of the note's "$FILE" items; attachments made later
 * have higher ones. */
WORD LastFileSerial(NOTEHANDLE note) {
  WORD last = 0;
  BLOCKID itemBid{};
  STATUS status = NSFItemInfo(note, kFileItem, NameLength(kFileItem), &itemBid, nullptr, nullptr,
                              nullptr);
  while (status == NOERROR) {
    last = std::max(last, itemBid.block);
    const BLOCKID previous = itemBid;
    status = NSFItemInfoNext(note, previous, kFileItem, NameLength(kFileItem), &itemBid, nullptr,
                             nullptr, nullptr);
  }
  return last;
}

/* Detaches the "$FILE" items made after the serial. */
void DetachFilesAfter(NOTEHANDLE note, WORD serial) {
  for (;;) {
    BLOCKID itemBid{};
    BLOCKID newer{};
    STATUS status = NSFItemInfo(note, kFileItem, NameLength(kFileItem), &itemBid, nullptr,
                                nullptr, nullptr);
    while (status == NOERROR && ISNULLBLOCKID(newer)) {
      if (itemBid.block > serial)
        newer = itemBid;
      const BLOCKID previous = itemBid;
      status = NSFItemInfoNext(note, previous, kFileItem, NameLength(kFileItem), &itemBid,
                               nullptr, nullptr, nullptr);
    }
    if (ISNULLBLOCKID(newer) || NSFNoteDetachFile(note, newer) != NOERROR)
      return;
  }
}

/* Tries a host call a few times: the failure that stopped the conversion
 * (memory, a storage write) may be passing. */
template <typename Call> STATUS Retried(Call call) {
  STATUS status = call();
  for (int tries = 1; tries < kRestoreTries && status != NOERROR; ++tries)
    status = call();
  return status;
}

/* Puts the saved MIME items back in place of whatever the name holds. */
void RestoreMimeItems(NOTEHANDLE note, const char* name, const std::vector<std::string>& values,
                      WORD fileSerial) {
  static_cast<void>(Retried([&]() -> STATUS {
    STATUS status = NSFItemDelete(note, name, NameLength(name));
    return (status & STATUS_CODE_MASK) == ERR_ITEM_NOT_FOUND ? STATUS{NOERROR} : status;
  }));
  DetachFilesAfter(note, fileSerial);
  for (const std::string& value : values)
    static_cast<void>(Retried([&] {
      return NSFItemAppend(note, 0, name, NameLength(name), TYPE_MIME_PART,
                           value.data() + sizeof(WORD),
                           static_cast<DWORD>(value.size() - sizeof(WORD)));
    }));
}

/* The extension of the attachment name, '.' included, when it is short
 * and plain; else empty. */
std::string Extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot > 16 || dot + 1 == name.size())
    return {};
  for (size_t i = dot + 1; i < name.size(); ++i)
    if (std::isalnum(static_cast<unsigned char>(name[i])) == 0)
      return {};
  return name.substr(dot);
}

/* Temporary files holding the parts, one for each extension: a part is
 * attached from its file before the next is written, so the next part of
 * that extension writes over it instead of making a file of its own.
 * Removed when it goes. */
class part_files {
public:
  explicit part_files(const LSXLsiSession* session) {
    directory_ = session != nullptr && session->internal->temp_directory[0] != '\0'
                     ? session->internal->temp_directory
                     : kFallbackTempDirectory;
    if (directory_.back() != '/')
      directory_ += '/';
  }
  ~part_files() {
    for (const auto& [extension, path] : paths_)
      unlink(path.c_str());
  }
  part_files(const part_files&) = delete;
  part_files& operator=(const part_files&) = delete;

  /* The file of the attachment name's extension holding the data (a new
   * one in the temporary directory the first time); empty when it cannot
   * be written. */
  std::string Write(const std::string& name, const std::string& data) {
    const std::string extension = Extension(name);
    const auto held = paths_.find(extension);
    int fd = -1;
    std::string path;
    if (held != paths_.end()) {
      path = held->second;
      fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    } else {
      path = directory_ + "mime" + "XXXXXX" + extension;
      fd = mkstemps(path.data(), static_cast<int>(extension.size()));
      if (fd >= 0)
        paths_.emplace(extension, path);
    }
    if (fd < 0)
      return {};
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t written = write(fd, data.data() + done, data.size() - done);
      if (written <= 0) {
        close(fd);
        return {};
      }
      done += static_cast<size_t>(written);
    }
    return close(fd) == 0 ? path : std::string();
  }

private:
  std::string directory_;
  std::map<std::string, std::string> paths_; /* by extension */
};

/* Hands the inline parts to the chunk for the HTML import. False when
 * memory runs out. */
bool AttachInlineParts(VelkoRTChunk* chunk, const std::vector<mime_inline_part>& parts) {
  inline_part_node** tail = &chunk->internal->inline_parts;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  for (const mime_inline_part& part : parts) {
    auto* node = new (std::nothrow) inline_part_node;
    if (node == nullptr)
      return false;
    node->data = new (std::nothrow) char[part.data.size() + 1];
    node->name = new (std::nothrow) char[part.id.size() + 1];
    *tail = node;
    tail = &node->next;
    if (node->data == nullptr || node->name == nullptr)
      return false;
    std::memcpy(node->data, part.data.c_str(), part.data.size() + 1);
    std::memcpy(node->name, part.id.c_str(), part.id.size() + 1);
    node->length = static_cast<DWORD>(part.data.size());
  }
  return true;
}

/* The attachment name as the note holds it: the UTF-8 name in LMBCS, at
 * most 255 bytes and cut between characters. False when memory runs out. */
bool NoteFileName(const std::string& utf8, std::string* lmbcs) {
  constexpr WORD kLongestName = 255;
  char room[kLongestName + 1];
  const WORD length = static_cast<WORD>(std::min<size_t>(utf8.size(), 0xFFFF));
  const WORD written =
      OSTranslate(OS_TRANSLATE_UTF8_TO_LMBCS, utf8.data(), length, room, kLongestName);
  lmbcs->assign(room, written);
  return written != 0 || length == 0;
}

/* The file of an attachment for the batch: its name in the note, and a
 * writer that puts the data in the part file of its extension. False when
 * memory runs out. */
bool AddToBatch(part_files* files, const std::string& name, const std::string& data,
                attachment_batch* batch) {
  batch_file file;
  if (!NoteFileName(name, &file.name))
    return false;
  file.write = [files, &name, &data] { return files->Write(name, data); };
  batch->files.push_back(std::move(file));
  return true;
}

/* Writes the new rich-text item of the name from the content. */
STATUS WriteRichText(LSXLsiSession* session, NOTEHANDLE note, const char* name,
                     const mime_content& content) {
  VelkoRTItem* item = NewObject<VelkoRTItem>(session);
  if (item == nullptr)
    return ERR_MEMORY;
  item->CacheRecords = 1;
  part_files files(session);
  STATUS status = item->CreateBackend(note, name, 1);
  VelkoRTChunk* chunk = item->default_chunk;
  if (status == NOERROR && chunk == nullptr)
    status = ERR_MEMORY;
  if (status == NOERROR && !AttachInlineParts(chunk, content.inline_parts))
    status = ERR_MEMORY;
  // A message without text still brings its attachments; the import
  // refuses an empty text.
  if (status == NOERROR && !content.body.empty())
    status = chunk->AppendHTML("INLINE", content.body.c_str(), "Charset=UTF-8");
  // The attachments, then the inline parts the body does not show, all
  // in one append.
  attachment_batch batch;
  for (const mime_attachment& attachment : content.attachments)
    if (status == NOERROR && !AddToBatch(&files, attachment.name, attachment.data, &batch))
      status = ERR_MEMORY;
  if (status == NOERROR) {
    const inline_part_node* node = chunk->internal->inline_parts;
    for (const mime_inline_part& part : content.inline_parts) {
      if (status == NOERROR && node != nullptr && !node->used &&
          !AddToBatch(&files, part.name, part.data, &batch))
        status = ERR_MEMORY;
      node = node != nullptr ? node->next : nullptr;
    }
  }
  if (status == NOERROR)
    status = AppendFileAttachments(chunk, batch);
  if (status == NOERROR)
    status = item->Commit();
  delete item;
  return status;
}

} // namespace

STATUS ConvertFromMIMEBackend(VelkoRTItem* item, NOTEHANDLE note, const char* itemName,
                              const char*, WORD, const char*, WORD) {
  if (note == NULLHANDLE || itemName == nullptr || itemName[0] == '\0')
    return ERR_NOT_FOUND;
  LSXLsiSession* session = item != nullptr ? item->session : nullptr;
  conversion_guard guard(session);
  if (!guard.entered())
    return ERR_NOT_FOUND;
  try {
    std::vector<std::string> values;
    std::string message;
    if (STATUS status = ReadMimeItems(note, itemName, &values, &message); status != NOERROR) {
      if (status == ERR_MEMORY)
        LogOutOfMemory(__LINE__, __FILE__);
      return status;
    }
    mime_content content;
    if (STATUS status = ReadMimeMessage(message, &content); status != NOERROR) {
      if (status == ERR_MEMORY)
        LogOutOfMemory(__LINE__, __FILE__);
      return status;
    }
    const WORD fileSerial = LastFileSerial(note);
    STATUS status = WriteRichText(session, note, itemName, content);
    if (status != NOERROR) {
      RestoreMimeItems(note, itemName, values, fileSerial);
      if (status == ERR_MEMORY)
        LogOutOfMemory(__LINE__, __FILE__);
    }
    return status;
  } catch (const std::bad_alloc&) {
    LogOutOfMemory(__LINE__, __FILE__);
    return ERR_MEMORY;
  }
}
