/* The boundary between the host (the game client) and a back-end plug-in.
 *
 * The host loads the plug-in library and calls its one export, load_mau_discord_rp,
 * with a HostApi record. The plug-in checks the host's plug-in API version and writes
 * back its own version, its three entry points (PluginCallbacks), an opaque context,
 * its short name and the table of functions it exposes (PluginExports). From then on:
 *
 *   host -> plug-in: StartPlugin, StopPlugin, GetMemoryStats, event and timer callbacks,
 *                    calls of exposed functions (HostCallRequest / HostCallResponse);
 *   plug-in -> host: the HostInterface table (requests, subscriptions, timers, waits,
 *                    log output), always with the HostInterface pointer first.
 *
 * Every record is packed. On 32-bit builds (the host's ABI) pointers are 4 bytes and the
 * record sizes are asserted below. On 64-bit builds each pointer widens to 8 bytes and
 * the field order stays the same. All integers are little-endian. Every function pointer
 * uses the C calling convention (MAU_ABI). Plain C; it needs nothing else of this tree.
 *
 * Threads (see abi_macros.h for the tags): the host calls the plug-in from its own
 * threads, one call at a time; the thread that calls StartPlugin is the plug-in's main
 * thread. The plug-in creates one thread of its own (its Discord I/O thread), which may
 * log: WriteLog must accept calls from any thread (the plug-in never makes two at once).
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

/* The plug-in API version this library implements: 18.0.0. A host is compatible when its
 * major version is equal and its (minor, patch) is not below (0, 0). */
#define MAU_PLUGIN_API_MAJOR 18u
#define MAU_PLUGIN_API_MINOR 0u
#define MAU_PLUGIN_API_PATCH 0u

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

/* ------------------------------------------------------------------ calls */

/* Method codes of a call. 0: none (a registration with 0 accepts every method);
 * 8: a custom method whose name travels in customMethod. */
enum {
  MAU_METHOD_NONE = 0,
  MAU_METHOD_DELETE = 1,
  MAU_METHOD_GET = 2,
  MAU_METHOD_HEAD = 3,
  MAU_METHOD_OPTIONS = 4,
  MAU_METHOD_PATCH = 5,
  MAU_METHOD_POST = 6,
  MAU_METHOD_PUT = 7,
  MAU_METHOD_CUSTOM = 8
};

/* One request header (name and value, both borrowed for the call). */
typedef struct HostHeader {
  const char* name;
  const char* value;
} HostHeader;

/* One call (48 bytes on 32-bit builds). Read-only for the answering side; everything it
 * points at is owned by the calling side and valid until the call returns. The host
 * fills it to call an exposed function of the plug-in; the plug-in fills it (zeroed but
 * for method, url, arguments and requestId) for its own requests through SendRequest. */
typedef struct HostCallRequest {
  uint32_t method;                    /* MAU_METHOD_* */
  const char* url;                    /* path and optional query, NUL-terminated */
  const HostTypedArgument* arguments; /* argumentCount entries, or NULL */
  uint32_t argumentCount;
  void* userData;            /* exposed-function calls: the entry's userData */
  const HostHeader* headers; /* headerCount entries, or NULL */
  uint32_t headerCount;
  const char* contentType; /* body content type, or NULL */
  const void* body;        /* NULL when there is no body */
  uint32_t bodyLength;
  uint32_t requestId;       /* plug-in requests: the host's hostHandle */
  const char* customMethod; /* method 8: the method's name */
} HostCallRequest;

typedef struct HostCallResponse HostCallResponse;

/* Reads up to *length bytes of a streamed body into buffer. On return *length holds the
 * bytes delivered and *more says whether more will follow. Returns 1 on success. */
typedef uint8_t(MAU_ABI* HostStreamReadFn)(void* stream, void* buffer, uint32_t* length,
                                           uint8_t* more);
/* Destroys a stream. */
typedef void(MAU_ABI* HostStreamReleaseFn)(void* stream);
/* Releases everything a response holds and zeroes it. */
typedef void(MAU_ABI* HostResponseReleaseFn)(HostCallResponse* response);

/* The answer to one call (62 bytes on 32-bit builds). The answering side fills it; every
 * text and array in it stays owned by that side until the receiver calls release (when
 * set) with the record, after which all 62 bytes are zero. A body stream is not part of
 * that: the receiver reads it and destroys it through streamRelease before releasing the
 * record. */
struct HostCallResponse {
  HostValue result;
  const char* errorText; /* set (and hasError 1) when the call failed */
  uint8_t hasError;
  uint8_t bodyFlag;          /* passed through unchanged */
  uint32_t bodyKind;         /* 1, 2 or 3; otherwise 0 */
  uint32_t status;           /* status code, 0 when none was set */
  const char* statusText;    /* never NULL when filled by the plug-in */
  const HostHeader* headers; /* headerCount response headers */
  uint32_t headerCount;
  HostStreamReadFn streamRead;       /* non-NULL: the body comes as a stream */
  HostStreamReleaseFn streamRelease; /* may be NULL */
  uint64_t bodyLength;               /* streamed body size (a capacity hint) */
  void* stream;                      /* the stream object for the two callbacks */
  HostResponseReleaseFn release;     /* set by the side that filled the record; may be NULL */
};

/* ------------------------------------------------------------------ events, timers */

/* An event delivered to a plug-in (24 bytes on 32-bit builds). Everything it points at is
 * owned by the host and valid only during the callback. */
typedef struct HostEventMessage {
  const char* eventName;
  HostValue payload;
  uint32_t reserved; /* not read by the plug-in */
  void* userData;    /* the userData given to SubscribeEvent */
} HostEventMessage;

/* [host-thread] Called by the host for each event of a subscription. */
typedef void(MAU_ABI* HostEventCallback)(const HostEventMessage* message);
/* [host-thread] Called by the host once when a one-shot timer is due. */
typedef void(MAU_ABI* HostTimerCallback)(void* userData);

/* ------------------------------------------------------------------ the host's table */

typedef struct HostInterface HostInterface;

/* The host's functions. Every entry takes the table itself first; the plug-in ignores
 * any return value. Texts passed by the plug-in are valid only during the call: the host
 * copies what it keeps. */
struct HostInterface {
  /* [host-thread] Performs a request; returns when the host has filled response. The
   * plug-in passes a zeroed response and calls its release function when done. */
  void(MAU_ABI* SendRequest)(HostInterface* self, HostCallResponse* response,
                             const HostCallRequest* request);
  /* [host-thread] Host-defined operations; the plug-in only forwards them. */
  void(MAU_ABI* HostOperation1)(HostInterface* self, uint32_t first, uint32_t second);
  void(MAU_ABI* HostOperation2)(HostInterface* self, uint32_t value);
  /* [host-thread] Delivers events named eventName to callback with userData until
   * unsubscribed. flag: 0 for resource events, 1 for service-proxy events. */
  void(MAU_ABI* SubscribeEvent)(HostInterface* self, const char* eventName, uint32_t hostHandle,
                                HostEventCallback callback, void* userData, int32_t flag);
  /* [host-thread] Ends the subscription of eventName. */
  void(MAU_ABI* UnsubscribeEvent)(HostInterface* self, const char* eventName, uint32_t hostHandle);
  /* [host-thread] Calls callback(userData) once after delaySeconds (0: as soon as the host
   * gets to it). The last argument is always 0. */
  void(MAU_ABI* StartTimer)(HostInterface* self, const char* name, HostTimerCallback callback,
                            void* userData, double delaySeconds, int32_t reserved);
  /* [host-thread] Lets the host make progress (deliver stream data) before returning. */
  void(MAU_ABI* YieldToHost)(HostInterface* self);
  /* [host-thread] Bracket a wait of the plug-in; the last argument of BeginWait is 0. */
  void(MAU_ABI* BeginWait)(HostInterface* self, const char* label, int32_t reserved);
  void(MAU_ABI* EndWait)(HostInterface* self);
  /* [any-thread] One log line: level 0 OKAY, 1 WARN, 2 ERROR, 3 ALWAYS. */
  void(MAU_ABI* WriteLog)(HostInterface* self, int32_t level, const char* message);
};

/* Given to StartPlugin; owned by the host and kept by the plug-in until StopPlugin. */
typedef struct HostContext {
  HostInterface* api;
  uint32_t hostHandle; /* passed back unchanged with every request and subscription */
} HostContext;

/* ------------------------------------------------------------------ the plug-in's side */

/* Memory statistics of the plug-in's allocation hooks (56 bytes). */
typedef struct MemoryStats {
  uint64_t peakBytesInUse;
  uint64_t allocationsAtPeak;
  uint64_t bytesAllocated;
  uint64_t allocations;
  uint64_t bytesFreed;
  uint64_t frees;
  uint64_t reserved; /* always 0 */
} MemoryStats;

/* The plug-in's entry points; pluginContext is HostApi.pluginContext. */
typedef struct PluginCallbacks {
  /* [host-thread] Starts the plug-in; context is owned by the host and must stay valid
   * until StopPlugin. Returns 1 when the plug-in started. */
  uint8_t(MAU_ABI* StartPlugin)(void* pluginContext, HostContext* context);
  /* [host-thread] Stops and destroys the plug-in: every pointer it wrote into HostApi is
   * invalid afterwards, and the host must deliver no further callback. */
  void(MAU_ABI* StopPlugin)(void* pluginContext);
  /* [any-thread] Fills stats; callable between the export and StopPlugin. */
  void(MAU_ABI* GetMemoryStats)(void* pluginContext, MemoryStats* stats);
} PluginCallbacks;

/* A host calls an exposed function with a request and a response to fill. */
typedef void(MAU_ABI* HostFunctionHandler)(HostCallResponse* response,
                                           const HostCallRequest* request);

/* One parameter of an exposed function (owned by the plug-in). */
typedef struct PluginParameterEntry {
  const char* name;
  const char* description;
  const char* typeName; /* the native type name ("int32", "string", a registered name) */
  uint32_t location;    /* 0 any, 1 query, 2 path, 4 header, 5 body */
  uint8_t optional;
} PluginParameterEntry;

/* One exposed function (90 bytes on 32-bit builds; everything owned by the plug-in and
 * valid until StopPlugin). The host calls handler with userData in the request. */
typedef struct PluginFunctionEntry {
  uint32_t size;  /* sizeof(PluginFunctionEntry) */
  uint32_t flags; /* bit 0: thread-safe; bit 1: asynchronous */
  void* userData; /* pass in HostCallRequest.userData */
  const char* name;
  const char* nameSpace;
  const char* description;
  const char* help;
  const char* urlTemplate;  /* empty: the name is the URL */
  uint32_t method;          /* MAU_METHOD_*; 0 accepts every method */
  const char* customMethod; /* method 8 */
  const PluginParameterEntry* parameters;
  uint32_t parameterCount;
  const char* resultTypeName;
  const char* const* tags;
  uint32_t tagCount;
  uint8_t reserved0;
  HostFunctionHandler handler;
  uint8_t reserved[25];
} PluginFunctionEntry;

/* One field of a registered struct, or one enumerator of an enum (29 bytes on 32-bit
 * builds). For an enumerator, typeId is 0 and offset holds its value. */
typedef struct PluginFieldEntry {
  const char* name;
  const char* description;
  const char* typeName;
  uint32_t offset;
  uint32_t typeId;        /* 1..19, see the binding type ids */
  uint32_t elementTypeId; /* vectors and maps */
  uint32_t flags;         /* bit 0 omit when empty, bit 1 required */
  uint8_t optional;
} PluginFieldEntry;

/* One registered struct or enum (40 bytes on 32-bit builds). */
typedef struct PluginTypeEntry {
  const char* name;
  const char* nameSpace;
  const char* description;
  uint32_t typeId; /* the type's static type id */
  uint32_t size;   /* native size in bytes */
  uint32_t kind;   /* 16 enum, 17 struct */
  const PluginFieldEntry* fields;
  uint32_t fieldCount;
  const char* const* tags;
  uint32_t tagCount;
} PluginTypeEntry;

/* One registered event (28 bytes on 32-bit builds). */
typedef struct PluginEventEntry {
  const struct PluginEventEntry* next; /* the following entry, NULL after the last */
  const char* name;
  const char* nameSpace;
  const char* payloadTypeName;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
} PluginEventEntry;

/* What the plug-in exposes (24 bytes on 32-bit builds); owned by the plug-in. */
typedef struct PluginExports {
  const PluginFunctionEntry* functions;
  uint32_t functionCount;
  const PluginTypeEntry* types;
  uint32_t typeCount;
  const PluginEventEntry* events;
  uint32_t eventCount;
} PluginExports;

/* The handshake record (28 bytes on 32-bit builds), owned by the host. The host fills the
 * three version words; the export overwrites them with the library's version and fills the
 * rest. Everything written here is owned by the plug-in and valid until StopPlugin. */
typedef struct HostApi {
  uint32_t apiMajor;
  uint32_t apiMinor;
  uint32_t apiPatch;
  PluginCallbacks* callbacks;
  void* pluginContext;
  const char* pluginName;
  PluginExports* exports;
} HostApi;

/* The export. A host with an incompatible plug-in API ends the process (after an
 * assertion report in the log); otherwise the function fills api and returns. */
typedef void(MAU_ABI* LoadPluginFn)(HostApi* api);
#define MAU_PLUGIN_EXPORT_NAME "load_mau_discord_rp"

#pragma pack(pop)

/* ------------------------------------------------------------------ layout checks */

#ifdef __cplusplus
#  define MAU_ABI_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#  define MAU_ABI_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* The sizes and the fixed offsets of the host's 32-bit ABI. */
#if UINTPTR_MAX == 0xFFFFFFFFu
MAU_ABI_STATIC_ASSERT(sizeof(HostValue) == 12, "HostValue is 12 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostValue, payload) == 4, "HostValue payload at 4");
MAU_ABI_STATIC_ASSERT(sizeof(HostStructureEntry) == 17, "structure entry is 17 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostStructureEntry, nameOwned) == 16, "entry flag at 16");
MAU_ABI_STATIC_ASSERT(sizeof(HostTypedArgument) == 16, "typed argument is 16 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(HostCallRequest) == 48, "request is 48 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostCallRequest, requestId) == 40, "request id at 40");
MAU_ABI_STATIC_ASSERT(sizeof(HostCallResponse) == 62, "response is 62 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostCallResponse, release) == 58, "release function at 58");
MAU_ABI_STATIC_ASSERT(sizeof(HostEventMessage) == 24, "event message is 24 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(HostApi) == 28, "HostApi is 28 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(MemoryStats) == 56, "memory statistics are 56 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(PluginExports) == 24, "exports are 24 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(PluginFunctionEntry) == 90, "function entry is 90 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(PluginFunctionEntry, name) == 12, "function name at 12");
MAU_ABI_STATIC_ASSERT(offsetof(PluginFunctionEntry, handler) == 61, "function handler at 61");
MAU_ABI_STATIC_ASSERT(sizeof(PluginTypeEntry) == 40, "type entry is 40 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(PluginFieldEntry) == 29, "field entry is 29 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(PluginEventEntry) == 28, "event entry is 28 bytes");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
/* The same records on 64-bit hosts: every pointer field widens to 8 bytes and the field
 * order stays, so a host value is a 4-byte type code and a 12-byte payload (an 8-byte
 * pointer with a 4-byte length, or an 8-byte scalar). */
MAU_ABI_STATIC_ASSERT(sizeof(HostValue) == 16, "HostValue is 16 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostValue, payload) == 4, "HostValue payload at 4");
MAU_ABI_STATIC_ASSERT(sizeof(HostStructureEntry) == 25, "structure entry is 25 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostStructureEntry, nameOwned) == 24, "entry flag at 24");
MAU_ABI_STATIC_ASSERT(sizeof(HostTypedArgument) == 24, "typed argument is 24 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(HostCallRequest) == 76, "request is 76 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostCallRequest, requestId) == 64, "request id at 64");
MAU_ABI_STATIC_ASSERT(sizeof(HostCallResponse) == 94, "response is 94 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(HostCallResponse, release) == 86, "release function at 86");
MAU_ABI_STATIC_ASSERT(sizeof(HostEventMessage) == 36, "event message is 36 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(HostApi) == 44, "HostApi is 44 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(MemoryStats) == 56, "memory statistics are 56 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(PluginExports) == 36, "exports are 36 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(PluginFunctionEntry) == 134, "function entry is 134 bytes");
MAU_ABI_STATIC_ASSERT(offsetof(PluginFunctionEntry, name) == 16, "function name at 16");
MAU_ABI_STATIC_ASSERT(offsetof(PluginFunctionEntry, handler) == 101, "function handler at 101");
MAU_ABI_STATIC_ASSERT(sizeof(PluginTypeEntry) == 60, "type entry is 60 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(PluginFieldEntry) == 41, "field entry is 41 bytes");
MAU_ABI_STATIC_ASSERT(sizeof(PluginEventEntry) == 52, "event entry is 52 bytes");
#else
#  error "the host boundary is defined for 32-bit and 64-bit pointers only"
#endif

#ifdef __cplusplus
}
#endif

#endif /* MAU_PLUGIN_ABI_H */
