// The dataset engine: packet reader and writer, row store with record states, and the C interface.
#include "engine/midas.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

struct midas_table {
  struct Cell {
    bool null = true;
    int64_t i = 0;
    double f = 0;
    std::string s;
  };
  struct Row {
    uint32_t id = 0;
    uint8_t state = MIDAS_RS_UNMODIFIED;
    std::vector<Cell> cells;
  };
  struct Column {
    std::string name;
    uint16_t type = 0;
    bool varying = false;
    uint16_t width = 0;
    uint16_t attributes = 0;
    uint32_t maxLength = 0;  // 0: none
  };
  enum Pending { None = 0, Inserting = 1, Editing = 2 };

  std::vector<Column> columns;
  std::vector<Row> rows;     // visible rows in order
  std::vector<Row> deleted;  // rows deleted from the stored set, kept for the change log
  uint32_t nextId = 1;
  Pending pending = None;
  int pendingRow = 0;        // insert position or edited row
  Row buffer;
  // Row of each id, rebuilt on first use after rows were inserted or removed.
  mutable std::unordered_map<uint32_t, int> rowOfId;
  mutable bool rowOfIdValid = false;
};

namespace {

using Table = midas_table;

thread_local std::string lastError;

// Failure of an engine operation: code and text for midas_last_error.
struct Failure {
  int code;
  std::string text;
};

[[noreturn]] void Fail(int code, std::string text) { throw Failure{code, std::move(text)}; }

const uint8_t kSignature[4] = {0x96, 0x19, 0xE0, 0xBD};
constexpr uint32_t kLayout = 3;
constexpr uint32_t kHeaderSize = 24;

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

uint64_t PrefixMax(uint16_t width) {
  return width == 1 ? 0xFFu : width == 2 ? 0xFFFFu : 0xFFFFFFFFu;
}

bool IsText(uint16_t t) { return t == MIDAS_T_STRING || t == MIDAS_T_MEMO; }
bool IsVarOnly(uint16_t t) { return t == MIDAS_T_BLOB || t == MIDAS_T_MEMO; }
bool IsBytesLike(uint16_t t) { return t == MIDAS_T_STRING || t == MIDAS_T_BYTES || IsVarOnly(t); }

// Checks a column's type, width and maximum; returns an empty text when valid.
std::string CheckColumn(const Table::Column& c) {
  auto bad = [&](const std::string& what) { return "column '" + c.name + "': " + what; };
  switch (c.type) {
    case MIDAS_T_INT:
    case MIDAS_T_UINT:
      if (c.varying) return bad("integers cannot be varying-length");
      if (c.width != 1 && c.width != 2 && c.width != 4 && c.width != 8)
        return bad("integer width " + std::to_string(c.width) + " (must be 1, 2, 4 or 8)");
      return {};
    case MIDAS_T_BOOL:
      if (c.varying) return bad("logical columns cannot be varying-length");
      if (c.width != 1 && c.width != 2) return bad("logical width " + std::to_string(c.width) + " (must be 1 or 2)");
      return {};
    case MIDAS_T_FLOAT:
      if (c.varying) return bad("floats cannot be varying-length");
      if (c.width != 4 && c.width != 8) return bad("float width " + std::to_string(c.width) + " (must be 4 or 8)");
      return {};
    case MIDAS_T_STRING:
    case MIDAS_T_BYTES:
    case MIDAS_T_BLOB:
    case MIDAS_T_MEMO:
      if (c.varying) {
        if (c.width != 1 && c.width != 2 && c.width != 4)
          return bad("length prefix of " + std::to_string(c.width) + " bytes (must be 1, 2 or 4)");
        if (c.maxLength > PrefixMax(c.width)) return bad("WIDTH " + std::to_string(c.maxLength) + " exceeds its length prefix");
      } else {
        if (IsVarOnly(c.type)) return bad("blob and memo columns must be varying-length");
        if (c.width == 0) return bad("fixed width 0");
      }
      return {};
    default:
      return bad("unknown type " + std::to_string(c.type));
  }
}

// ---- reading ----

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), size_(size) {}
  size_t pos() const { return pos_; }
  size_t left() const { return size_ - pos_; }
  void Need(size_t n, const char* what) const {
    if (n > left())
      Fail(MIDAS_ERR_PACKET, std::string("truncated data packet: ") + what + " at offset " + std::to_string(pos_) +
                                 " needs " + std::to_string(n) + " bytes, " + std::to_string(left()) + " left");
  }
  uint64_t Uint(size_t n, const char* what) {
    Need(n, what);
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p_[pos_ + i]) << (8 * i);
    pos_ += n;
    return v;
  }
  std::string Bytes(size_t n, const char* what) {
    Need(n, what);
    std::string s(reinterpret_cast<const char*>(p_ + pos_), n);
    pos_ += n;
    return s;
  }
  std::string Short(const char* what) { return Bytes(static_cast<size_t>(Uint(1, what)), what); }
  void Skip(size_t n, const char* what) {
    Need(n, what);
    pos_ += n;
  }
  void Seek(size_t pos) { pos_ = pos; }

 private:
  const uint8_t* p_;
  size_t size_;
  size_t pos_ = 0;
};

// Reads one property; WIDTH sets the column maximum when `column` is given.
void ReadProperty(Reader& r, Table::Column* column) {
  std::string name = r.Short("property name");
  size_t len = static_cast<size_t>(r.Uint(2, "property value length"));
  uint16_t type = static_cast<uint16_t>(r.Uint(2, "property value type"));
  size_t at = r.pos();
  r.Need(len, "property value");
  if (column && SameText(name, "WIDTH")) {
    if ((type != MIDAS_T_INT && type != MIDAS_T_UINT) || (len != 1 && len != 2 && len != 4))
      Fail(MIDAS_ERR_PACKET, "column '" + column->name + "': WIDTH at offset " + std::to_string(at) +
                                 " must be an integer of 1, 2 or 4 bytes");
    uint64_t w = r.Uint(len, "WIDTH");
    if (w == 0 || (type == MIDAS_T_INT && (w >> (8 * len - 1)) != 0))
      Fail(MIDAS_ERR_PACKET, "column '" + column->name + "': WIDTH " + std::to_string(w) + " is not positive");
    column->maxLength = static_cast<uint32_t>(w);
  } else {
    r.Skip(len, "property value");
  }
}

// Reads the value of one non-null cell.
void ReadCell(Reader& r, const Table::Column& c, Table::Cell& cell) {
  cell.null = false;
  if (c.varying) {
    size_t len = static_cast<size_t>(r.Uint(c.width, "value length"));
    cell.s = r.Bytes(len, "value");
  } else if (IsBytesLike(c.type)) {
    cell.s = r.Bytes(c.width, "value");
    if (IsText(c.type)) cell.s.resize(strnlen(cell.s.data(), cell.s.size()));
  } else if (c.type == MIDAS_T_FLOAT) {
    uint64_t bits = r.Uint(c.width, "value");
    if (c.width == 4) {
      uint32_t b32 = static_cast<uint32_t>(bits);
      float f;
      std::memcpy(&f, &b32, 4);
      cell.f = f;
    } else {
      std::memcpy(&cell.f, &bits, 8);
    }
  } else {
    uint64_t v = r.Uint(c.width, "value");
    if (c.type == MIDAS_T_INT && c.width < 8) {
      uint64_t sign = uint64_t(1) << (8 * c.width - 1);
      v = (v ^ sign) - sign;  // sign-extend
    }
    if (c.type == MIDAS_T_BOOL) v = v != 0;
    cell.i = static_cast<int64_t>(v);
  }
  if (c.maxLength && cell.s.size() > c.maxLength) cell.s.resize(c.maxLength);
}

Table* ParsePacket(const uint8_t* data, size_t size) {
  Reader r(data, size);
  r.Need(kHeaderSize, "packet header");
  if (std::memcmp(data, kSignature, 4) != 0) Fail(MIDAS_ERR_PACKET, "not a data packet (wrong signature)");
  r.Seek(4);
  uint32_t major = static_cast<uint32_t>(r.Uint(2, "version"));
  uint32_t minor = static_cast<uint32_t>(r.Uint(2, "version"));
  if (major != 1)
    Fail(MIDAS_ERR_PACKET, "unsupported data packet version " + std::to_string(major) + "." + std::to_string(minor));
  uint64_t headerSize = r.Uint(4, "header size");
  size_t columnCount = static_cast<size_t>(r.Uint(2, "column count"));
  uint64_t rowCount = r.Uint(4, "row count");
  uint64_t layout = r.Uint(4, "row layout");
  uint64_t descLength = r.Uint(2, "descriptive length");
  if (headerSize < kHeaderSize || headerSize > size)
    Fail(MIDAS_ERR_PACKET, "header size " + std::to_string(headerSize) + " outside the packet of " +
                               std::to_string(size) + " bytes");
  if (layout != kLayout) Fail(MIDAS_ERR_PACKET, "unsupported row layout " + std::to_string(layout));
  if (columnCount == 0) Fail(MIDAS_ERR_PACKET, "data packet has no columns");
  if (descLength < headerSize || descLength > size)
    Fail(MIDAS_ERR_PACKET, "descriptive length " + std::to_string(descLength) + " outside the packet (header " +
                               std::to_string(headerSize) + ", packet " + std::to_string(size) + " bytes)");

  auto t = std::make_unique<Table>();
  // Columns and table properties must lie inside the descriptive part.
  Reader d(data, static_cast<size_t>(descLength));
  d.Seek(static_cast<size_t>(headerSize));
  for (size_t i = 0; i < columnCount; ++i) {
    Table::Column c;
    size_t at = d.pos();
    c.name = d.Short("column name");
    if (c.name.empty()) Fail(MIDAS_ERR_PACKET, "column " + std::to_string(i + 1) + " at offset " + std::to_string(at) + " has no name");
    for (const auto& o : t->columns)
      if (SameText(o.name, c.name)) Fail(MIDAS_ERR_PACKET, "duplicate column name '" + c.name + "'");
    c.width = static_cast<uint16_t>(d.Uint(2, "column width"));
    uint16_t type = static_cast<uint16_t>(d.Uint(2, "column type"));
    c.attributes = static_cast<uint16_t>(d.Uint(2, "column attributes"));
    size_t props = static_cast<size_t>(d.Uint(2, "column property count"));
    if (type & ~(0x3F | MIDAS_F_VARYING))
      Fail(MIDAS_ERR_PACKET, "column '" + c.name + "': unknown type flags in " + std::to_string(type));
    c.type = type & 0x3F;
    c.varying = (type & MIDAS_F_VARYING) != 0;
    for (size_t p = 0; p < props; ++p) ReadProperty(d, &c);
    if (!c.varying && IsBytesLike(c.type)) c.maxLength = c.width;
    else if (c.varying && c.maxLength == 0 && !IsVarOnly(c.type) && c.width < 4) c.maxLength = static_cast<uint32_t>(PrefixMax(c.width));
    if (IsVarOnly(c.type)) c.maxLength = 0;
    std::string problem = CheckColumn(c);
    if (!problem.empty()) Fail(MIDAS_ERR_PACKET, problem);
    t->columns.push_back(std::move(c));
  }
  size_t tableProps = static_cast<size_t>(d.Uint(2, "table property count"));
  for (size_t p = 0; p < tableProps; ++p) ReadProperty(d, nullptr);
  if (d.pos() != descLength)
    Fail(MIDAS_ERR_PACKET, "descriptive part ends at offset " + std::to_string(d.pos()) + " but its length says " +
                               std::to_string(descLength));

  r.Seek(static_cast<size_t>(descLength));
  size_t bitmapSize = (columnCount + 7) / 8;
  // Every row takes at least its state byte and bitmap: refuse counts that cannot fit before allocating.
  if (rowCount > r.left() / (1 + bitmapSize))
    Fail(MIDAS_ERR_PACKET, "row count " + std::to_string(rowCount) + " does not fit the " + std::to_string(r.left()) +
                               " bytes of rows");
  for (uint64_t n = 0; n < rowCount; ++n) {
    Table::Row row;
    size_t at = r.pos();
    row.state = static_cast<uint8_t>(r.Uint(1, "record state"));
    if (row.state > MIDAS_RS_DELETED)
      Fail(MIDAS_ERR_PACKET, "row " + std::to_string(n + 1) + " at offset " + std::to_string(at) + ": unknown record state " +
                                 std::to_string(row.state));
    std::string bitmap = r.Bytes(bitmapSize, "null bitmap");
    row.cells.resize(columnCount);
    for (size_t c = 0; c < columnCount; ++c) {
      bool null = (static_cast<uint8_t>(bitmap[c / 8]) >> (c % 8)) & 1;
      if (!null) ReadCell(r, t->columns[c], row.cells[c]);
    }
    row.id = t->nextId++;
    (row.state == MIDAS_RS_DELETED ? t->deleted : t->rows).push_back(std::move(row));
  }
  if (r.left() != 0)
    Fail(MIDAS_ERR_PACKET, std::to_string(r.left()) + " bytes after the last row at offset " + std::to_string(r.pos()));
  return t.release();
}

// ---- writing ----

class Writer {
 public:
  void Uint(uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  void Bytes(const std::string& s) { out += s; }
  void Short(const std::string& s) {
    Uint(s.size(), 1);
    out += s;
  }
  std::string out;
};

void WriteCell(Writer& w, const Table::Column& c, const Table::Cell& cell) {
  if (c.varying) {
    w.Uint(cell.s.size(), c.width);
    w.Bytes(cell.s);
  } else if (IsBytesLike(c.type)) {
    std::string s = cell.s.substr(0, c.width);
    s.resize(c.width, '\0');
    w.Bytes(s);
  } else if (c.type == MIDAS_T_FLOAT) {
    if (c.width == 4) {
      float f = static_cast<float>(cell.f);
      uint32_t b;
      std::memcpy(&b, &f, 4);
      w.Uint(b, 4);
    } else {
      uint64_t b;
      std::memcpy(&b, &cell.f, 8);
      w.Uint(b, 8);
    }
  } else {
    w.Uint(static_cast<uint64_t>(cell.i), c.width);
  }
}

std::string WriteImage(const Table& t) {
  Writer w;
  w.Uint(0, 4);  // image length, filled in below
  w.Bytes(std::string(reinterpret_cast<const char*>(kSignature), 4));
  w.Uint(1, 2);
  w.Uint(0, 2);
  w.Uint(kHeaderSize, 4);
  w.Uint(t.columns.size(), 2);
  w.Uint(t.rows.size() + t.deleted.size(), 4);
  w.Uint(kLayout, 4);
  w.Uint(0, 2);  // descriptive length, filled in below
  for (const auto& c : t.columns) {
    w.Short(c.name);
    w.Uint(c.width, 2);
    w.Uint(c.type | (c.varying ? MIDAS_F_VARYING : 0), 2);
    w.Uint(c.attributes, 2);
    bool width = c.varying && !IsVarOnly(c.type) && c.maxLength && c.maxLength != PrefixMax(c.width);
    w.Uint(width ? 1 : 0, 2);
    if (width) {
      size_t len = c.maxLength <= 0xFFFF ? 2 : 4;
      w.Short("WIDTH");
      w.Uint(len, 2);
      w.Uint(MIDAS_T_UINT, 2);
      w.Uint(c.maxLength, len);
    }
  }
  w.Uint(0, 2);  // table properties
  size_t desc = w.out.size() - 4;
  if (desc > 0xFFFF) Fail(MIDAS_ERR_RANGE, "column descriptions too long for a data packet");
  for (int i = 0; i < 2; ++i) w.out[4 + 22 + i] = static_cast<char>((desc >> (8 * i)) & 0xFF);
  size_t bitmapSize = (t.columns.size() + 7) / 8;
  for (const auto* list : {&t.rows, &t.deleted}) {
    for (const auto& row : *list) {
      w.Uint(row.state, 1);
      std::string bitmap(bitmapSize, '\0');
      for (size_t c = 0; c < t.columns.size(); ++c)
        if (row.cells[c].null) bitmap[c / 8] = static_cast<char>(bitmap[c / 8] | (1 << (c % 8)));
      w.Bytes(bitmap);
      for (size_t c = 0; c < t.columns.size(); ++c)
        if (!row.cells[c].null) WriteCell(w, t.columns[c], row.cells[c]);
    }
  }
  size_t len = w.out.size() - 4;
  if (len > 0xFFFFFFFFu) Fail(MIDAS_ERR_RANGE, "table too large for an image");
  for (int i = 0; i < 4; ++i) w.out[i] = static_cast<char>((len >> (8 * i)) & 0xFF);
  return w.out;
}

// ---- guards ----

template <class F>
int Guard(F&& f) {
  try {
    f();
    return MIDAS_OK;
  } catch (const Failure& e) {
    lastError = e.text;
    return e.code;
  } catch (const std::bad_alloc&) {
    lastError = "out of memory";
    return MIDAS_ERR_MEMORY;
  } catch (...) {
    lastError = "internal error";
    return MIDAS_ERR_MEMORY;
  }
}

void CheckTable(const Table* t) {
  if (!t) Fail(MIDAS_ERR_ARG, "no table");
}
const Table::Column& ColumnAt(const Table* t, int column) {
  CheckTable(t);
  if (column < 0 || static_cast<size_t>(column) >= t->columns.size())
    Fail(MIDAS_ERR_ARG, "column " + std::to_string(column) + " out of range");
  return t->columns[static_cast<size_t>(column)];
}
void CheckRow(const Table* t, int row) {
  CheckTable(t);
  if (row < 0 || static_cast<size_t>(row) >= t->rows.size())
    Fail(MIDAS_ERR_ARG, "row " + std::to_string(row) + " out of range");
}
void CheckNoPending(const Table* t) {
  if (t->pending != Table::None) Fail(MIDAS_ERR_STATE, "a record is already being edited");
}

Table::Row EmptyRow(const Table* t) {
  Table::Row r;
  r.cells.resize(t->columns.size());
  return r;
}

void StoreValue(const Table::Column& c, Table::Cell& cell, const midas_value& v) {
  if (v.is_null) {
    cell = Table::Cell();
    return;
  }
  Table::Cell n;
  n.null = false;
  switch (c.type) {
    case MIDAS_T_INT:
      if (c.width < 8) {
        int64_t lim = int64_t(1) << (8 * c.width - 1);
        if (v.i < -lim || v.i >= lim)
          Fail(MIDAS_ERR_RANGE, std::to_string(v.i) + " is out of range for column '" + c.name + "'");
      }
      n.i = v.i;
      break;
    case MIDAS_T_UINT:
      if (c.width < 8 && (v.i < 0 || static_cast<uint64_t>(v.i) >= (uint64_t(1) << (8 * c.width))))
        Fail(MIDAS_ERR_RANGE, std::to_string(v.i) + " is out of range for column '" + c.name + "'");
      n.i = v.i;
      break;
    case MIDAS_T_BOOL:
      n.i = v.i != 0;
      break;
    case MIDAS_T_FLOAT:
      n.f = c.width == 4 ? static_cast<double>(static_cast<float>(v.f)) : v.f;
      break;
    default:
      if (v.size && !v.data) Fail(MIDAS_ERR_ARG, "value without data");
      n.s.assign(v.data ? v.data : "", v.size);
      if (c.maxLength && n.s.size() > c.maxLength) n.s.resize(c.maxLength);
      break;
  }
  cell = std::move(n);
}

}  // namespace

extern "C" {

int midas_open_packet(const void* packet, uint32_t size, midas_table** table) {
  return Guard([&] {
    if (!table) Fail(MIDAS_ERR_ARG, "no result pointer");
    *table = nullptr;
    if (!packet && size) Fail(MIDAS_ERR_ARG, "no packet");
    *table = ParsePacket(static_cast<const uint8_t*>(packet), size);
  });
}

int midas_open_image(const void* image, uint32_t size, midas_table** table) {
  return Guard([&] {
    if (!table) Fail(MIDAS_ERR_ARG, "no result pointer");
    *table = nullptr;
    if (!image && size) Fail(MIDAS_ERR_ARG, "no image");
    const auto* p = static_cast<const uint8_t*>(image);
    if (size < 4) Fail(MIDAS_ERR_PACKET, "truncated table image: " + std::to_string(size) + " bytes, no length");
    uint32_t len = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (len > size - 4)
      Fail(MIDAS_ERR_PACKET, "truncated table image: packet of " + std::to_string(len) + " bytes, " +
                                 std::to_string(size - 4) + " present");
    if (len < size - 4)
      Fail(MIDAS_ERR_PACKET, std::to_string(size - 4 - len) + " bytes after the packet of the table image");
    *table = ParsePacket(p + 4, len);
  });
}

int midas_create(const midas_column* columns, int count, midas_table** table) {
  return Guard([&] {
    if (!table) Fail(MIDAS_ERR_ARG, "no result pointer");
    *table = nullptr;
    if (count <= 0 || !columns) Fail(MIDAS_ERR_ARG, "no columns");
    auto t = std::make_unique<Table>();
    for (int i = 0; i < count; ++i) {
      const midas_column& d = columns[i];
      Table::Column c;
      c.name = d.name ? d.name : "";
      if (c.name.empty() || c.name.size() > 255) Fail(MIDAS_ERR_ARG, "column " + std::to_string(i + 1) + ": name must have 1 to 255 characters");
      for (const auto& o : t->columns)
        if (SameText(o.name, c.name)) Fail(MIDAS_ERR_ARG, "duplicate column name '" + c.name + "'");
      c.type = d.type;
      c.varying = d.varying != 0 || IsVarOnly(d.type);
      c.attributes = d.attributes;
      c.width = d.width;
      c.maxLength = 0;
      if (c.varying && IsBytesLike(c.type)) {
        c.maxLength = IsVarOnly(c.type) ? 0 : d.max_length;
        c.width = IsVarOnly(c.type) || c.maxLength == 0 || c.maxLength > 0xFFFF ? 4 : c.maxLength > 0xFF ? 2 : 1;
      } else if (IsBytesLike(c.type)) {
        c.maxLength = c.width;
      }
      std::string problem = CheckColumn(c);
      if (!problem.empty()) Fail(MIDAS_ERR_ARG, problem);
      t->columns.push_back(std::move(c));
    }
    *table = t.release();
  });
}

void midas_free(midas_table* table) { delete table; }

int midas_save_image(const midas_table* table, void* buffer, uint32_t capacity, uint32_t* size) {
  return Guard([&] {
    CheckTable(table);
    if (!size) Fail(MIDAS_ERR_ARG, "no size pointer");
    std::string image = WriteImage(*table);
    *size = static_cast<uint32_t>(image.size());
    if (image.size() > capacity || !buffer) Fail(MIDAS_ERR_SPACE, "buffer too small for the table image");
    std::memcpy(buffer, image.data(), image.size());
  });
}

int midas_column_count(const midas_table* table) { return table ? static_cast<int>(table->columns.size()) : 0; }

int midas_get_column(const midas_table* table, int column, midas_column* info) {
  return Guard([&] {
    const auto& c = ColumnAt(table, column);
    if (!info) Fail(MIDAS_ERR_ARG, "no result pointer");
    info->name = c.name.c_str();
    info->type = c.type;
    info->varying = c.varying;
    info->width = c.width;
    info->attributes = c.attributes;
    info->max_length = c.maxLength;
  });
}

int midas_row_count(const midas_table* table) { return table ? static_cast<int>(table->rows.size()) : 0; }

int midas_row_state(const midas_table* table, int row) {
  if (!table || row < 0 || static_cast<size_t>(row) >= table->rows.size()) return -1;
  return table->rows[static_cast<size_t>(row)].state;
}

uint32_t midas_row_id(const midas_table* table, int row) {
  if (!table || row < 0 || static_cast<size_t>(row) >= table->rows.size()) return 0;
  return table->rows[static_cast<size_t>(row)].id;
}

int midas_row_of_id(const midas_table* table, uint32_t id) {
  if (!table || id == 0) return -1;
  try {
    if (!table->rowOfIdValid) {
      table->rowOfId.clear();
      for (size_t i = 0; i < table->rows.size(); ++i) table->rowOfId[table->rows[i].id] = static_cast<int>(i);
      table->rowOfIdValid = true;
    }
  } catch (const std::bad_alloc&) {
    table->rowOfIdValid = false;
    for (size_t i = 0; i < table->rows.size(); ++i)
      if (table->rows[i].id == id) return static_cast<int>(i);
    return -1;
  }
  auto it = table->rowOfId.find(id);
  return it == table->rowOfId.end() ? -1 : it->second;
}

int midas_change_count(const midas_table* table) {
  if (!table) return 0;
  int n = static_cast<int>(table->deleted.size());
  for (const auto& r : table->rows) n += r.state != MIDAS_RS_UNMODIFIED;
  return n;
}

int midas_get_value(const midas_table* table, int row, int column, midas_value* value) {
  return Guard([&] {
    const auto& col = ColumnAt(table, column);
    if (!value) Fail(MIDAS_ERR_ARG, "no result pointer");
    const Table::Row* r;
    if (row == MIDAS_BUFFER) {
      if (table->pending == Table::None) Fail(MIDAS_ERR_STATE, "no record is being edited");
      r = &table->buffer;
    } else {
      CheckRow(table, row);
      r = &table->rows[static_cast<size_t>(row)];
    }
    const auto& cell = r->cells[static_cast<size_t>(column)];
    *value = midas_value{};
    value->is_null = cell.null;
    value->i = cell.i;
    value->f = cell.f;
    if (IsBytesLike(col.type)) {
      value->data = cell.s.data();
      value->size = static_cast<uint32_t>(cell.s.size());
    }
  });
}

int midas_append(midas_table* table) {
  return Guard([&] {
    CheckTable(table);
    CheckNoPending(table);
    table->buffer = EmptyRow(table);
    table->pending = Table::Inserting;
    table->pendingRow = static_cast<int>(table->rows.size());
  });
}

int midas_insert(midas_table* table, int before_row) {
  return Guard([&] {
    CheckTable(table);
    CheckNoPending(table);
    if (before_row < 0 || static_cast<size_t>(before_row) > table->rows.size())
      Fail(MIDAS_ERR_ARG, "insert position " + std::to_string(before_row) + " out of range");
    table->buffer = EmptyRow(table);
    table->pending = Table::Inserting;
    table->pendingRow = before_row;
  });
}

int midas_edit(midas_table* table, int row) {
  return Guard([&] {
    CheckRow(table, row);
    CheckNoPending(table);
    table->buffer = table->rows[static_cast<size_t>(row)];
    table->pending = Table::Editing;
    table->pendingRow = row;
  });
}

int midas_set_value(midas_table* table, int column, const midas_value* value) {
  return Guard([&] {
    const auto& col = ColumnAt(table, column);
    if (!value) Fail(MIDAS_ERR_ARG, "no value");
    if (table->pending == Table::None) Fail(MIDAS_ERR_STATE, "no record is being edited");
    StoreValue(col, table->buffer.cells[static_cast<size_t>(column)], *value);
  });
}

int midas_post(midas_table* table, int* row) {
  return Guard([&] {
    CheckTable(table);
    if (table->pending == Table::None) Fail(MIDAS_ERR_STATE, "no record is being edited");
    Table::Row& b = table->buffer;
    size_t at = static_cast<size_t>(table->pendingRow);
    if (table->pending == Table::Inserting) {
      b.state = MIDAS_RS_INSERTED;
      b.id = table->nextId;
      table->rows.insert(table->rows.begin() + static_cast<std::ptrdiff_t>(at), b);
      ++table->nextId;
      table->rowOfIdValid = false;
    } else {
      if (b.state == MIDAS_RS_UNMODIFIED) b.state = MIDAS_RS_MODIFIED;
      table->rows[at] = b;
    }
    table->pending = Table::None;
    table->buffer = Table::Row();
    if (row) *row = static_cast<int>(at);
  });
}

int midas_cancel(midas_table* table) {
  return Guard([&] {
    CheckTable(table);
    table->pending = Table::None;
    table->buffer = Table::Row();
  });
}

int midas_pending(const midas_table* table) { return table ? table->pending : 0; }

int midas_delete(midas_table* table, int row) {
  return Guard([&] {
    CheckRow(table, row);
    CheckNoPending(table);
    auto it = table->rows.begin() + row;
    if (it->state != MIDAS_RS_INSERTED) {
      it->state = MIDAS_RS_DELETED;
      table->deleted.push_back(std::move(*it));
    }
    table->rows.erase(it);
    table->rowOfIdValid = false;
  });
}

const char* midas_last_error(void) { return lastError.c_str(); }

}  // extern "C"
