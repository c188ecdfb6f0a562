/* The C records of the boundary between the host and the plug-in.
 *
 * Plain C (C99 and later, and every C++ standard), usable by a host vendor without the
 * rest of the tree. All integers are little-endian and every record is packed: on the
 * 32-bit host ABI each record has exactly the size asserted at the end of this file. On
 * 64-bit builds each pointer widens to 8 bytes and the field order stays the same (a
 * HostValue is then 16 bytes: the 4-byte type code, then an 8-byte pointer and a 4-byte
 * length, or the 8-byte scalar).
 *
 * Every function pointer carries MAU_ABI, and every entry states who owns each pointer and
 * for how long, and on which thread it is used (the tags are defined in abi_macros.h).
 * Value records carry no lock: they belong to the thread that holds the call or event
 * record carrying them.
 */
#ifndef MAU_PLUGIN_ABI_H
#define MAU_PLUGIN_ABI_H

#include <stddef.h>
#include <stdint.h>

#include "mau/abi_macros.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* ------------------------------------------------------------------ values */

/* Type codes of HostValue.type. "Borrowed" payloads belong to whoever built the value
 * and are never freed through it; "owned" payloads and the arrays of collections and
 * structures are heap blocks that clearing the value frees. */
enum {
  MAU_HOST_VALUE_EMPTY = 0,           /* no payload; the 8 payload bytes are zero */
  MAU_HOST_VALUE_BOOL = 1,            /* payload.boolean: 0 or 1 */
  MAU_HOST_VALUE_SIGNED = 2,          /* payload.signedValue */
  MAU_HOST_VALUE_UNSIGNED = 3,        /* payload.unsignedValue */
  MAU_HOST_VALUE_FLOAT = 4,           /* payload.floatValue */
  MAU_HOST_VALUE_STRING_BORROWED = 5, /* payload.string.text, NUL-terminated; length unused */
  MAU_HOST_VALUE_STRING_OWNED = 6,    /* payload.string: a heap copy, NUL-terminated */
  MAU_HOST_VALUE_BLOB_BORROWED = 7,   /* payload.blob */
  MAU_HOST_VALUE_BLOB_OWNED = 8,      /* payload.blob: a heap copy */
  MAU_HOST_VALUE_COLLECTION = 9,      /* payload.collection: owned array of HostValue */
  MAU_HOST_VALUE_STRUCTURE = 10       /* payload.structure: owned array of entries */
};

typedef struct HostValue HostValue;
typedef struct HostStructureEntry HostStructureEntry;

/* One value as the host exchanges it: a type code and an 8-byte payload chosen by the
 * code. A value's owner clears it: for a collection each element is cleared and the array
 * freed; for an owned string or blob the pointer is freed; for a structure each owned name
 * is freed, each value cleared and the array freed; then the whole record is zeroed.
 * Memory the plug-in hands over was taken from its allocation hooks and is freed by the
 * release function of the record that carries the value. */
struct HostValue {
  uint32_t type; /* MAU_HOST_VALUE_* */
  union {
    uint8_t boolean;
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    struct {
      const char* text; /* owned (code 6) or borrowed (code 5); never NULL when length > 0 */
      uint32_t length;  /* bytes before the terminating NUL (code 6 only) */
    } string;
    struct {
      const uint8_t* bytes; /* owned (code 8) or borrowed (code 7) */
      uint32_t length;
    } blob;
    struct {
      HostValue* items; /* owned; NULL when count is 0 */
      uint32_t count;
    } collection;
    struct {
      HostStructureEntry* entries; /* owned; NULL when count is 0 */
      uint32_t count;
    } structure;
  } payload;
};

/* One member of a structure value. */
struct HostStructureEntry {
  const char* name; /* NUL-terminated; a heap copy owned by the entry when nameOwned is 1,
                       else borrowed for as long as the structure lives */
  HostValue value;  /* owned by the entry */
  uint8_t nameOwned;
};

/* One argument of a call: named, or positional when name is NULL. */
typedef struct HostTypedArgument {
  const char* name; /* NUL-terminated or NULL; borrowed for the duration of the call */
  HostValue value;  /* borrowed for the duration of the call; read-only for the callee */
} HostTypedArgument;

/* ------------------------------------------------------------------ layout checks */

#ifdef __cplusplus
#define MAU_ABI_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define MAU_ABI_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
MAU_ABI_STATIC_ASSERT(sizeof(HostValue) == 12, "HostValue is 12 bytes on the host ABI");
MAU_ABI_STATIC_ASSERT(offsetof(HostValue, payload) == 4, "HostValue payload at 4");
MAU_ABI_STATIC_ASSERT(sizeof(HostStructureEntry) == 17, "structure entry is 17 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostStructureEntry, value) == 4, "entry value at 4");
MAU_ABI_STATIC_ASSERT(offsetof(HostStructureEntry, nameOwned) == 16, "entry flag at 16");
MAU_ABI_STATIC_ASSERT(sizeof(HostTypedArgument) == 16, "typed argument is 16 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostTypedArgument, value) == 4, "argument value at 4");
#endif

#pragma pack(pop)

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* MAU_PLUGIN_ABI_H */
