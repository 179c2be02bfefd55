/* The dataset engine: in-memory tables with record states, read from and written to data packets.
 * Plain C interface with an opaque table handle, exported by MIDAS.DLL in the Windows build (the program
 * loads it at run time) and linked statically elsewhere.
 *
 * Calling rules
 *   Every function that can fail returns MIDAS_OK (0) or an error code; midas_last_error() then gives a text
 *   for the last failure of the calling thread. No function throws, none keeps a pointer to caller memory.
 *   Texts and byte values returned in a midas_value point into the table and stay valid until the table is
 *   next changed or freed.
 *
 * Table image and data packet (all numbers little-endian; "short string" = one length byte + characters)
 *   image   = uint32 packet length, packet (the length must equal the bytes that follow)
 *   packet  = header, columns, table properties, rows
 *   header  (24 bytes or more; bytes beyond 24 up to the header size are skipped):
 *     0  4  signature 96 19 E0 BD
 *     4  2  major version, must be 1          6  2  minor version (any)
 *     8  4  header size (>= 24)               12 2  column count (>= 1)
 *     14 4  row count                         18 4  row layout, must be 3 (rows as described below)
 *     22 2  length of the descriptive part: header, columns and table properties; rows start there
 *   column  = short string name (non-empty, unique ignoring case), uint16 width, uint16 type,
 *             uint16 attributes (MIDAS_A_*; other bits kept), uint16 property count, properties
 *   property = short string name, uint16 value length, uint16 value type (MIDAS_T_* code), value bytes
 *   table properties = uint16 count, properties (read over, not kept)
 *   Column types (type word = base type | MIDAS_F_VARYING when varying-length; no other flag bits):
 *     MIDAS_T_INT    signed integer,   fixed, width 1, 2, 4 or 8
 *     MIDAS_T_UINT   unsigned integer, fixed, width 1, 2, 4 or 8 (8-byte values are read as int64 bits)
 *     MIDAS_T_BOOL   logical,          fixed, width 1 or 2, non-zero is true
 *     MIDAS_T_FLOAT  IEEE float,       fixed, width 4 or 8
 *     MIDAS_T_STRING single-byte text and MIDAS_T_BYTES bytes:
 *                    fixed: width = length, values zero-padded (text: trailing zeros dropped on reading);
 *                    varying: width = size of the length prefix (1, 2 or 4); the column property "WIDTH"
 *                    (integer value type, 1, 2 or 4 bytes, 1 .. the prefix's maximum) gives the maximum
 *                    length; without it the prefix's maximum applies (no limit for a 4-byte prefix)
 *     MIDAS_T_BLOB   bytes, MIDAS_T_MEMO text: varying only, prefix width 1, 2 or 4, no length limit
 *     Other column properties are read over.
 *   row     = uint8 record state (MIDAS_RS_*), null bitmap (one bit per column, column i is bit i%8 of byte
 *             i/8, set = null), then the value of each non-null column in column order: fixed columns
 *             `width` bytes, varying ones the length prefix and that many bytes. Longer values than a
 *             column's maximum are cut to it. The packet must end right after the last row.
 *   Anything else is refused with a message that names the part and offset.
 *
 * Rows and record states
 *   Rows are numbered 0 .. midas_row_count()-1 in order (deleted rows are not counted). Each row has an id
 *   that never changes while the table lives (bookmarks). One pending record buffer per table: started by
 *   append, insert or edit, filled by midas_set_value, ended by post or cancel. Posting a new record stores it
 *   as inserted; posting an edit marks an unmodified row modified (an inserted row stays inserted); deleting
 *   an inserted row removes it, any other row is kept as deleted (written out with its state, not visible).
 */
#ifndef ENGINE_MIDAS_H
#define ENGINE_MIDAS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(MIDAS_BUILD_DLL)
#define MIDAS_API __declspec(dllexport)
#else
#define MIDAS_API
#endif

typedef struct midas_table midas_table;

/* Result codes. */
#define MIDAS_OK 0
#define MIDAS_ERR_PACKET 1 /* malformed packet or image */
#define MIDAS_ERR_ARG 2    /* bad handle, column, row or definition */
#define MIDAS_ERR_STATE 3  /* operation not allowed now (e.g. no pending record) */
#define MIDAS_ERR_RANGE 4  /* value does not fit the column */
#define MIDAS_ERR_MEMORY 5
#define MIDAS_ERR_SPACE 6  /* output buffer too small (the needed size is returned) */

/* Column types and the varying-length flag. */
#define MIDAS_T_INT 1
#define MIDAS_T_UINT 2
#define MIDAS_T_BOOL 3
#define MIDAS_T_FLOAT 4
#define MIDAS_T_STRING 9
#define MIDAS_T_BYTES 10
#define MIDAS_T_BLOB 14
#define MIDAS_T_MEMO 15
#define MIDAS_F_VARYING 0x40

/* Column attributes. */
#define MIDAS_A_HIDDEN 0x0001
#define MIDAS_A_READONLY 0x0002
#define MIDAS_A_REQUIRED 0x0004

/* Record states. */
#define MIDAS_RS_UNMODIFIED 0
#define MIDAS_RS_INSERTED 1
#define MIDAS_RS_MODIFIED 2
#define MIDAS_RS_DELETED 3

/* Row number that addresses the pending record buffer in midas_get_value. */
#define MIDAS_BUFFER (-1)

typedef struct midas_column {
  const char* name;    /* owned by the table (midas_get_column) or the caller (midas_create) */
  uint16_t type;       /* MIDAS_T_* */
  uint16_t varying;    /* 1: varying-length */
  uint16_t width;      /* stored width in bytes; for varying columns the size of the length prefix */
  uint16_t attributes; /* MIDAS_A_* */
  uint32_t max_length; /* text and bytes: maximum length; 0 = no limit */
} midas_column;

typedef struct midas_value {
  int32_t is_null;
  int64_t i;        /* INT, UINT, BOOL (0 or 1) */
  double f;         /* FLOAT */
  const char* data; /* STRING, BYTES, BLOB, MEMO */
  uint32_t size;
} midas_value;

/* Opening, creating, writing. */
MIDAS_API int midas_open_image(const void* image, uint32_t size, midas_table** table);
MIDAS_API int midas_open_packet(const void* packet, uint32_t size, midas_table** table);
/* Empty table from column definitions. For fixed columns `width` gives the size (text and bytes: the
 * length); for varying text/bytes max_length is the maximum (0: none) and a prefix of 1, 2 or 4 bytes is
 * chosen to fit it; blob and memo columns get a 4-byte prefix. */
MIDAS_API int midas_create(const midas_column* columns, int count, midas_table** table);
MIDAS_API void midas_free(midas_table* table);
/* Writes the table image (with every row including deleted ones). With a too small buffer returns
 * MIDAS_ERR_SPACE and sets *size to the size needed; buffer may be NULL when capacity is 0. */
MIDAS_API int midas_save_image(const midas_table* table, void* buffer, uint32_t capacity, uint32_t* size);

/* Columns and rows. */
MIDAS_API int midas_column_count(const midas_table* table);
MIDAS_API int midas_get_column(const midas_table* table, int column, midas_column* info);
MIDAS_API int midas_row_count(const midas_table* table);
MIDAS_API int midas_row_state(const midas_table* table, int row); /* MIDAS_RS_*, or -1 */
MIDAS_API uint32_t midas_row_id(const midas_table* table, int row); /* 0 when out of range */
MIDAS_API int midas_row_of_id(const midas_table* table, uint32_t id); /* -1 when no visible row has it */
MIDAS_API int midas_change_count(const midas_table* table); /* inserted + modified + deleted rows */
MIDAS_API int midas_get_value(const midas_table* table, int row, int column, midas_value* value);

/* The pending record buffer. */
MIDAS_API int midas_append(midas_table* table);
MIDAS_API int midas_insert(midas_table* table, int before_row);
MIDAS_API int midas_edit(midas_table* table, int row);
MIDAS_API int midas_set_value(midas_table* table, int column, const midas_value* value);
MIDAS_API int midas_post(midas_table* table, int* row);
MIDAS_API int midas_cancel(midas_table* table);
MIDAS_API int midas_pending(const midas_table* table); /* 0 none, 1 insert, 2 edit */
MIDAS_API int midas_delete(midas_table* table, int row);

MIDAS_API const char* midas_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* ENGINE_MIDAS_H */
