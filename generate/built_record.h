/*
 * Building blocks of the image and hotspot generators: one record built in
 * host form in a tracked block sized from its texts and handed to the
 * emitter with its header set and its length made even, a reader of
 * property values into a tracked buffer as long as the property string,
 * and the small readers of numbers and quoted HTML values these generators
 * share.
 *
 * Not here: the record sequences themselves (generate/resource.cpp,
 * generate/hotspot.cpp, generate/image_map.cpp).
 */
#ifndef VELKO_GENERATE_BUILT_RECORD_H
#define VELKO_GENERATE_BUILT_RECORD_H

#include <stddef.h>

#include "host/cdrecords.h"
#include "store/emitter.h"
#include "velko/velko.h"

/* Returns the status of the expression when it is not 0. */
#define RETURN_IF_FAILED(expression)                                                               \
  do {                                                                                             \
    const STATUS failed_ = (expression);                                                           \
    if (failed_ != NOERROR)                                                                        \
      return failed_;                                                                              \
  } while (0)

/* The largest record a generator builds: the emitter's body buffer. */
constexpr DWORD kLargestBuiltRecord = 64382;

/* One record: a zeroed fixed part and room for texts behind it. */
class built_record {
public:
  /* fixed bytes of fixed part, tail bytes of room behind it. status() is
   * 1028 when the record would pass kLargestBuiltRecord or what its header
   * can hold, 263 when memory cannot be had. */
  built_record(LSXLsiSession* session, WORD signature, size_t fixed, size_t tail);
  ~built_record();
  built_record(const built_record&) = delete;
  built_record& operator=(const built_record&) = delete;

  STATUS status() const { return status_; }
  BYTE* data() { return data_; }
  template <typename Layout>
  Layout* as() {
    return reinterpret_cast<Layout*>(data_);
  }
  /* Appends bytes behind what the record holds (within the room asked for). */
  void Append(const void* bytes, size_t count);
  /* The header set for the bytes held, made even, and the record handed to
   * the emitter; the status of the emitter, or status() when not built. */
  STATUS Emit(generation_context* context);

private:
  LSXLsiSession* session_;
  WORD signature_;
  BYTE* data_ = nullptr;
  size_t used_ = 0;
  size_t size_ = 0;
  STATUS status_ = 0;
};

/* A tracked buffer holding one property value at a time; as long as the
 * property string, so that no value is cut. */
class property_value {
public:
  property_value(LSXLsiSession* session, const char* properties);
  ~property_value();
  property_value(const property_value&) = delete;
  property_value& operator=(const property_value&) = delete;

  /* 263 when the buffer could not be had (every read then finds nothing). */
  STATUS status() const { return status_; }
  /* The key's value (valid until the next read), or null when absent. */
  const char* Read(const char* key);
  /* The key's value when present and not empty, else null. */
  const char* ReadText(const char* key);

private:
  LSXLsiSession* session_;
  const char* properties_;
  char* buffer_ = nullptr;
  size_t size_ = 0;
  STATUS status_ = 0;
};

/* A decimal number of inches as twips (inches x 1440, truncated). */
DWORD InchesToTwips(double inches);

/* True when text begins with prefix, compared without regard to case. */
bool BeginsWith(const char* text, const char* prefix);
/* True when a and b are equal without regard to case. */
bool SameText(const char* a, const char* b);

/* A value quoted by its own first character: the key found anywhere in
 * properties (any case), then the text between the character right after
 * its "=" and the next occurrence of that character. False when the key or
 * the closing character is missing. */
bool QuotedValue(const char* properties, const char* key, const char** text, size_t* length);

/* A replica ID of exactly 16 hexadecimal digits into 8 bytes: the u32 of
 * the last 8 digits, then the u32 of the first 8; zero for any other text. */
void ReadReplicaID(const char* text, BYTE out[8]);

/* The CDIDNAME of the "<prefix>HTML..." keys of the properties, emitted
 * only when one of its parts is given. */
STATUS EmitIdNameRecord(const char* prefix, const char* properties, generation_context* gen);

#endif
