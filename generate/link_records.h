/*
 * Building the variable-length records of the link and field generators:
 * a record assembled from its fixed part and texts, then emitted from
 * where it was assembled; byte records; CDIDNAMEs.
 * A record that would pass the emitter's largest record or a 16-bit length
 * is refused with 1028 before any memory is taken. Private to generate/.
 */
#ifndef VELKO_GENERATE_LINK_RECORDS_H
#define VELKO_GENERATE_LINK_RECORDS_H

#include <string>
#include <string_view>
#include <vector>

#include "store/emitter.h"
#include "velko/velko.h"

namespace link_records {

/* The largest record the generators build. */
inline constexpr DWORD kLargestRecord = 64382;

/* A record being assembled, header first (its signature and length are set
 * when it is emitted). */
class record_block {
public:
  record_block() = default;
  record_block(const record_block&) = delete;
  record_block& operator=(const record_block&) = delete;

  void Add(const void* data, size_t length);
  void Add(std::string_view text) { Add(text.data(), text.size()); }
  /* The text and a zero byte. */
  void AddTerminated(std::string_view text);
  void AddZeros(size_t count);
  size_t Size() const { return size_; }
  BYTE* Data() { return data_; }

  /* Sets the header (WSIG for 0xFFnn, BSIG otherwise) and emits the
   * record: 1028 when too large, else the emitter's status. */
  STATUS Emit(WORD signature, generation_context* context);

private:
  /* Room for the records most links make, so that they take no memory. */
  static constexpr size_t kInPlace = 256;
  /* The end of the record grows by count bytes; where they go. */
  BYTE* Extend(size_t count);

  BYTE inPlace_[kInPlace];
  std::vector<BYTE> spilled_; /* the record once it outgrew inPlace_ */
  BYTE* data_ = inPlace_;
  size_t size_ = 0;
};

/* A two-byte record {signature, 2} emitted under the signature. */
STATUS EmitByteRecord(WORD signature, generation_context* context);

/* A CDIDNAME of the six parts (id, class, style, title, other, name). */
STATUS EmitIdName(LSXLsiSession* session, const std::string parts[6], generation_context* context);

/* A CDIDNAME from the "<prefix>HTMLID=" ... keys of properties, emitted
 * only when a key gave a part. */
STATUS EmitIdNameFromProperties(LSXLsiSession* session, const char* prefix,
                                const char* properties, generation_context* context);

} // namespace link_records

#endif
