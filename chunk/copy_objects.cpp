/*
 * Carries a copied record's file attachment or OLE object from its note to
 * another: the object is extracted to a file of its own in the session's
 * temporary directory, attached to the target note and the file removed,
 * whatever the outcome.
 */
#include "chunk/copy_objects.h"

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "chunk/object_names.h"
#include "host/cdrecords.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/owned_text.h"
#include "store/session.h"

namespace {

std::string_view NameOf(const char* name, WORD nameLength) {
  return name == nullptr ? std::string_view() : std::string_view(name, nameLength);
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

/* A file made for the object in the session's temporary directory, removed
 * when this goes. */
class TemporaryFile {
public:
  explicit TemporaryFile(LSXLsiSession* session) {
    const _internal_SESS* internal = session != nullptr ? session->internal : nullptr;
    path_ = internal != nullptr && internal->temp_directory[0] != 0 ? internal->temp_directory
                                                                    : "/tmp/";
    path_ += "velko-copy-XXXXXX";
    const int descriptor = mkstemp(path_.data());
    if (descriptor < 0) {
      path_.clear();
      return;
    }
    close(descriptor);
  }
  ~TemporaryFile() {
    if (!path_.empty())
      unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool made() const { return !path_.empty(); }
  const char* path() const { return path_.c_str(); }

private:
  std::string path_;
};

/* The value of an item after its type word, locked while this lives;
 * empty when the item is not of the wanted type. */
class LockedValue {
public:
  LockedValue(BLOCKID value, DWORD length, WORD type, WORD wantedType) : value_(value) {
    if (type != wantedType || length < sizeof(WORD))
      return;
    const auto* bytes = static_cast<const char*>(OSLockBlock(value));
    if (bytes == nullptr)
      return;
    locked_ = true;
    bytes_ = std::string_view(bytes + sizeof(WORD), length - sizeof(WORD));
  }
  ~LockedValue() {
    if (locked_)
      OSUnlockBlock(value_);
  }
  LockedValue(const LockedValue&) = delete;
  LockedValue& operator=(const LockedValue&) = delete;

  std::string_view bytes() const { return bytes_; }

private:
  BLOCKID value_;
  bool locked_ = false;
  std::string_view bytes_;
};

/* The first item of the note's items of the name whose value (of the
 * wanted type, after its type word) `match` accepts; false when none does. */
template <typename Match>
bool FindItemValue(NOTEHANDLE note, const char* name, WORD wantedType, BLOCKID* found,
                   Match match) {
  const auto nameLength = static_cast<WORD>(std::strlen(name));
  BLOCKID item;
  BLOCKID value;
  WORD type = 0;
  DWORD length = 0;
  for (STATUS status = NSFItemInfo(note, name, nameLength, &item, &type, &value, &length);
       status == NOERROR;
       status = NSFItemInfoNext(note, item, name, nameLength, &item, &type, &value, &length)) {
    const LockedValue locked(value, length, type, wantedType);
    if (match(locked.bytes())) {
      *found = item;
      return true;
    }
  }
  return false;
}

/* The "$OLEOBJINFO" of the note that names the object (with regard to
 * case): its information and, when asked, its description. */
bool FindOleInformation(NOTEHANDLE note, const std::string& objectName, CDOLEOBJ_INFO* info,
                        std::string* description) {
  const WORD fixed = ODSLength(ODS_CD_FFC1);
  BLOCKID item;
  return FindItemValue(note, "$OLEOBJINFO", TYPE_COMPOSITE, &item, [&](std::string_view bytes) {
    if (bytes.size() < fixed)
      return false;
    const void* from = bytes.data();
    ODSReadMemory(&from, ODS_CD_FFC1, info, 1);
    const size_t texts = size_t{info->FileObjNameLength} + info->DescriptionNameLength;
    if (info->Header.Signature != SIG_CD_OLEOBJINFO || fixed + texts > bytes.size() ||
        bytes.substr(fixed, info->FileObjNameLength) != objectName)
      return false;
    if (description != nullptr)
      description->assign(bytes.substr(fixed + info->FileObjNameLength,
                                       info->DescriptionNameLength));
    return true;
  });
}

} // namespace

std::string SafeObjectName(std::string_view text) {
  if (const size_t nul = text.find('\0'); nul != std::string_view::npos)
    text = text.substr(0, nul);
  // The name is LMBCS: a byte below 0x20 leads a character of several
  // bytes, which may hold '/' or '\' bytes; one that stands alone is a
  // control character.
  size_t start = 0;
  for (size_t at = 0; at < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    const WORD bytes = byte < 0x20 ? CharacterBytes(text.data() + at) : 1;
    if (byte == 0x7F || (byte < 0x20 && (bytes < 2 || bytes > text.size() - at)))
      return {};
    // A two-byte group prefix stands before a byte above 0x7F only.
    if (byte < 0x20 && bytes == 2 && static_cast<unsigned char>(text[at + 1]) < 0x80)
      return {};
    if (byte == '/' || byte == '\\')
      start = at + 1;
    at += bytes;
  }
  text.remove_prefix(start);
  if (text.empty() || text == "." || text == "..")
    return {};
  return std::string(text);
}

named_object RecordObjectName(const BYTE* record, WORD signature, DWORD length,
                              std::string* name) {
  // An OLE object record: its name's length at byte 14, the name behind
  // the 20-byte fixed part.
  constexpr DWORD kOleNameLengthAt = 14;
  constexpr DWORD kOleFixedLength = 20;
  constexpr WORD kFileHotspotType = 4;
  name->clear();
  if (record == nullptr)
    return named_object::none;
  const auto* text = reinterpret_cast<const char*>(record);
  named_object kind = named_object::none;
  if (signature == SIG_CD_HOTSPOTBEGIN || signature == SIG_CD_V4HOTSPOTBEGIN) {
    WORD type = 0;
    if (length < sizeof(CDHOTSPOTBEGIN))
      return named_object::none;
    std::memcpy(&type, record + offsetof(CDHOTSPOTBEGIN, Type), sizeof type);
    if (type != kFileHotspotType)
      return named_object::none;
    *name = SafeObjectName(std::string_view(text + sizeof(CDHOTSPOTBEGIN),
                                            length - sizeof(CDHOTSPOTBEGIN)));
    kind = named_object::file;
  } else if (signature == SIG_CD_OLEBEGIN) {
    WORD nameLength = 0;
    if (length < kOleFixedLength)
      return named_object::none;
    std::memcpy(&nameLength, record + kOleNameLengthAt, sizeof nameLength);
    if (nameLength > length - kOleFixedLength)
      return named_object::none;
    *name = SafeObjectName(std::string_view(text + kOleFixedLength, nameLength));
    kind = named_object::ole_object;
  }
  return name->empty() ? named_object::none : kind;
}

bool NoteHoldsOleObject(NOTEHANDLE note, const std::string& name) {
  CDOLEOBJ_INFO info;
  return FindOleInformation(note, name, &info, nullptr);
}

STATUS CopyAttachmentBetweenNotes(LSXLsiSession* session, NOTEHANDLE source, NOTEHANDLE target,
                                  const char* name, WORD nameLength) {
  const std::string fileName = SafeObjectName(NameOf(name, nameLength));
  if (fileName.empty())
    return ERR_ITEM_NOT_FOUND;
  BLOCKID item;
  const auto namesTheFile = [&](std::string_view bytes) {
    if (bytes.size() < sizeof(FILEOBJECT))
      return false;
    FILEOBJECT file;
    std::memcpy(&file, bytes.data(), sizeof file);
    return sizeof file + file.FileNameLength <= bytes.size() &&
           EqualIgnoringAsciiCase(bytes.substr(sizeof file, file.FileNameLength), fileName);
  };
  if (!FindItemValue(source, "$FILE", TYPE_OBJECT, &item, namesTheFile))
    return ERR_ITEM_NOT_FOUND;
  TemporaryFile copy(session);
  if (!copy.made())
    return ERR_HOST_FILE_IO;
  if (const STATUS extracted = NSFNoteExtractFile(source, item, copy.path(), nullptr);
      extracted != NOERROR)
    return extracted;
  return NSFNoteAttachFile(target, "$FILE", 5, copy.path(), fileName.c_str(), 0);
}

STATUS CopyOleObjectBetweenNotes(LSXLsiSession* session, NOTEHANDLE source, NOTEHANDLE target,
                                 const char* name, WORD nameLength, const char* targetItemName) {
  const std::string objectName = SafeObjectName(NameOf(name, nameLength));
  if (objectName.empty())
    return ERR_ITEM_NOT_FOUND;
  CDOLEOBJ_INFO info;
  std::string description;
  if (!FindOleInformation(source, objectName, &info, &description))
    return ERR_ITEM_NOT_FOUND;
  // The target shows the object of that name it holds already: a note
  // holds one object of a name.
  if (NoteHoldsOleObject(target, objectName))
    return NOERROR;
  TemporaryFile copy(session);
  if (!copy.made())
    return ERR_HOST_FILE_IO;
  if (const STATUS extracted =
          NSFNoteExtractOLE2Object(source, objectName.c_str(), copy.path(), nullptr, TRUE, 0);
      extracted != NOERROR)
    return extracted;
  const DWORD flags = info.Flags & (OLEOBJINFO_FLAG_SCRIPTED | OLEOBJINFO_FLAG_CONTROL);
  return NSFNoteAttachOLE2Object(target, copy.path(), objectName.c_str(), TRUE,
                                 description.c_str(), targetItemName, &info.OleObjClass,
                                 info.DisplayFormat, flags);
}
