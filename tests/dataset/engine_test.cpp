// The dataset engine through its C interface: the contact table's image, malformed packets, rows in packets,
// record states and the pending record buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/midas.h"
#include "tests/dataset/contact_image.h"

namespace {

struct TableDeleter {
  void operator()(midas_table* t) const { midas_free(t); }
};
using Table = std::unique_ptr<midas_table, TableDeleter>;

Table Open(const std::string& image, int* rc = nullptr) {
  midas_table* t = nullptr;
  int r = midas_open_image(image.data(), static_cast<uint32_t>(image.size()), &t);
  if (rc) *rc = r;
  return Table(t);
}

std::string Save(const midas_table* t) {
  uint32_t size = 0;
  EXPECT_EQ(midas_save_image(t, nullptr, 0, &size), MIDAS_ERR_SPACE);
  std::string out(size, '\0');
  EXPECT_EQ(midas_save_image(t, out.data(), size, &size), MIDAS_OK);
  return out;
}

// Error text of opening `image`, or "" when it opened.
std::string OpenError(const std::string& image) {
  int rc = 0;
  Table t = Open(image, &rc);
  if (rc == MIDAS_OK) return "";
  EXPECT_EQ(t, nullptr);
  return midas_last_error();
}

void SetText(midas_table* t, int column, const std::string& s) {
  midas_value v{};
  v.data = s.data();
  v.size = static_cast<uint32_t>(s.size());
  ASSERT_EQ(midas_set_value(t, column, &v), MIDAS_OK) << midas_last_error();
}

void SetInt(midas_table* t, int column, int64_t i) {
  midas_value v{};
  v.i = i;
  ASSERT_EQ(midas_set_value(t, column, &v), MIDAS_OK) << midas_last_error();
}

std::string Text(const midas_table* t, int row, int column) {
  midas_value v{};
  EXPECT_EQ(midas_get_value(t, row, column, &v), MIDAS_OK) << midas_last_error();
  return v.is_null ? "<null>" : std::string(v.data, v.size);
}

// Patches a little-endian number into the image (offsets count from the image start).
std::string Patch(std::string image, size_t offset, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) image[offset + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return image;
}

}  // namespace

TEST(EngineImage, ContactImageOpensWithThreeColumnsAndNoRows) {
  int rc = -1;
  Table t = Open(ContactImage(), &rc);
  ASSERT_EQ(rc, MIDAS_OK) << midas_last_error();
  ASSERT_EQ(midas_column_count(t.get()), 3);
  EXPECT_EQ(midas_row_count(t.get()), 0);
  midas_column c{};
  ASSERT_EQ(midas_get_column(t.get(), 0, &c), MIDAS_OK);
  EXPECT_STREQ(c.name, "ID");
  EXPECT_EQ(c.type, MIDAS_T_INT);
  EXPECT_EQ(c.width, 4);
  EXPECT_EQ(c.varying, 0);
  ASSERT_EQ(midas_get_column(t.get(), 1, &c), MIDAS_OK);
  EXPECT_STREQ(c.name, "NAME");
  EXPECT_EQ(c.type, MIDAS_T_STRING);
  EXPECT_EQ(c.varying, 1);
  EXPECT_EQ(c.width, 1);
  EXPECT_EQ(c.max_length, 50u);
  ASSERT_EQ(midas_get_column(t.get(), 2, &c), MIDAS_OK);
  EXPECT_STREQ(c.name, "PHONE");
  EXPECT_EQ(c.max_length, 20u);
  EXPECT_EQ(midas_get_column(t.get(), 3, &c), MIDAS_ERR_ARG);
}

TEST(EngineImage, EmptyTableWritesBackTheSameBytesAndCreateMatchesIt) {
  Table t = Open(ContactImage());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(Save(t.get()), ContactImage());

  midas_column cols[3] = {{"ID", MIDAS_T_INT, 0, 4, 0, 0},
                          {"NAME", MIDAS_T_STRING, 1, 0, 0, 50},
                          {"PHONE", MIDAS_T_STRING, 1, 0, 0, 20}};
  midas_table* created = nullptr;
  ASSERT_EQ(midas_create(cols, 3, &created), MIDAS_OK) << midas_last_error();
  Table c(created);
  EXPECT_EQ(Save(c.get()), ContactImage());
}

TEST(EngineImage, EveryTruncationIsRefusedWithATextAndOnlyTheWholeImageOpens) {
  const std::string image = ContactImage();
  for (size_t n = 0; n < image.size(); ++n) {
    std::string cut = image.substr(0, n);
    EXPECT_FALSE(OpenError(cut).empty()) << n;
    // The same bytes with a length field that claims exactly what is there: the packet itself is cut short.
    if (n >= 4) EXPECT_FALSE(OpenError(Patch(cut, 0, static_cast<uint32_t>(n - 4), 4)).empty()) << n;
    // And as a bare packet.
    if (n >= 4) {
      midas_table* t = nullptr;
      EXPECT_NE(midas_open_packet(cut.data() + 4, static_cast<uint32_t>(n - 4), &t), MIDAS_OK) << n;
      EXPECT_EQ(t, nullptr);
    }
  }
  EXPECT_EQ(OpenError(image), "");
  EXPECT_NE(OpenError(image.substr(0, 50)).find("truncated"), std::string::npos);
}

TEST(EngineImage, CorruptHeadersAreRefusedWithClearTexts) {
  const std::string image = ContactImage();
  auto has = [](const std::string& text, const char* word) { return text.find(word) != std::string::npos; };
  EXPECT_TRUE(has(OpenError(image + "x"), "after the packet"));
  EXPECT_TRUE(has(OpenError(Patch(image, 0, 89, 4)), "truncated"));
  EXPECT_TRUE(has(OpenError(Patch(image, 0, 0xFFFFFFFF, 4)), "truncated"));
  EXPECT_TRUE(has(OpenError(Patch(image, 4, 0x00, 1)), "signature"));
  EXPECT_TRUE(has(OpenError(Patch(image, 8, 2, 2)), "version 2.0"));
  EXPECT_EQ(OpenError(Patch(image, 10, 7, 2)), "");  // minor versions are fine
  EXPECT_TRUE(has(OpenError(Patch(image, 12, 23, 4)), "header size"));
  EXPECT_TRUE(has(OpenError(Patch(image, 12, 89, 4)), "header size"));
  EXPECT_TRUE(has(OpenError(Patch(image, 16, 0, 2)), "no columns"));
  EXPECT_FALSE(OpenError(Patch(image, 16, 4, 2)).empty());  // a fourth column would overrun the descriptive part
  EXPECT_FALSE(OpenError(Patch(image, 16, 2, 2)).empty());  // two columns leave bytes over
  EXPECT_TRUE(has(OpenError(Patch(image, 18, 1, 4)), "row count"));
  EXPECT_TRUE(has(OpenError(Patch(image, 18, 0x7FFFFFFF, 4)), "row count"));
  EXPECT_TRUE(has(OpenError(Patch(image, 22, 2, 4)), "row layout"));
  EXPECT_FALSE(OpenError(Patch(image, 26, 87, 2)).empty());
  EXPECT_TRUE(has(OpenError(Patch(image, 26, 89, 2)), "descriptive"));
  EXPECT_TRUE(has(OpenError(Patch(image, 26, 10, 2)), "descriptive"));
}

TEST(EngineImage, CorruptColumnsAreRefused) {
  const std::string image = ContactImage();
  auto has = [](const std::string& text, const char* word) { return text.find(word) != std::string::npos; };
  // Column 1 starts at image offset 28: name length, "ID", width 31, type 33, attributes 35, properties 37.
  EXPECT_TRUE(has(OpenError(Patch(image, 28, 0, 1)), "no name"));
  EXPECT_TRUE(has(OpenError(Patch(image, 31, 3, 2)), "integer width 3"));
  EXPECT_TRUE(has(OpenError(Patch(image, 33, 0x41, 2)), "varying"));
  EXPECT_TRUE(has(OpenError(Patch(image, 33, 0x81, 2)), "type flags"));
  EXPECT_TRUE(has(OpenError(Patch(image, 33, 33, 2)), "unknown type 33"));
  EXPECT_FALSE(OpenError(Patch(image, 37, 1, 2)).empty());
  EXPECT_FALSE(OpenError(Patch(image, 37, 0xFFFF, 2)).empty());
  // NAME (offset 39): prefix width at 44, WIDTH value type at 60, value at 62; duplicate name.
  EXPECT_TRUE(has(OpenError(Patch(image, 44, 3, 2)), "prefix"));
  EXPECT_TRUE(has(OpenError(Patch(image, 62, 0, 2)), "WIDTH 0"));
  EXPECT_TRUE(has(OpenError(Patch(image, 62, 300, 2)), "exceeds"));
  EXPECT_TRUE(has(OpenError(Patch(image, 60, 9, 2)), "WIDTH"));
  // Names are unique ignoring case.
  midas_column two[] = {{"AB", MIDAS_T_INT, 0, 4, 0, 0}, {"CD", MIDAS_T_INT, 0, 4, 0, 0}};
  midas_table* made = nullptr;
  ASSERT_EQ(midas_create(two, 2, &made), MIDAS_OK);
  Table pair(made);
  std::string packet = Save(pair.get());
  EXPECT_EQ(OpenError(packet), "");
  size_t at = packet.find("CD");
  ASSERT_NE(at, std::string::npos);
  EXPECT_TRUE(has(OpenError(packet.replace(at, 2, "ab")), "duplicate column name"));
  // Property value length running past the descriptive part.
  EXPECT_TRUE(has(OpenError(Patch(image, 58, 0x7FFF, 2)), "truncated"));
}

namespace {
// A packet with every column kind and three rows (one deleted), written by the engine itself.
Table KitchenSink() {
  midas_column cols[] = {{"I8", MIDAS_T_INT, 0, 1, 0, 0},      {"U16", MIDAS_T_UINT, 0, 2, 0, 0},
                         {"L", MIDAS_T_BOOL, 0, 2, 0, 0},      {"F", MIDAS_T_FLOAT, 0, 8, 0, 0},
                         {"S", MIDAS_T_STRING, 1, 0, 0, 5},    {"FIX", MIDAS_T_STRING, 0, 4, 0, 0},
                         {"M", MIDAS_T_MEMO, 1, 0, 0, 0},      {"B", MIDAS_T_BLOB, 1, 0, 0, 0},
                         {"BY", MIDAS_T_BYTES, 0, 3, 0, 0},    {"F4", MIDAS_T_FLOAT, 0, 4, MIDAS_A_REQUIRED, 0}};
  midas_table* t = nullptr;
  EXPECT_EQ(midas_create(cols, 10, &t), MIDAS_OK) << midas_last_error();
  return Table(t);
}
}  // namespace

TEST(EngineRows, EveryKindSurvivesWriteAndRead) {
  Table t = KitchenSink();
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(midas_append(t.get()), MIDAS_OK);
  SetInt(t.get(), 0, -5);
  SetInt(t.get(), 1, 65535);
  SetInt(t.get(), 2, 7);
  midas_value f{};
  f.f = 2.5;
  ASSERT_EQ(midas_set_value(t.get(), 3, &f), MIDAS_OK);
  SetText(t.get(), 4, "abcdefgh");  // cut to 5
  SetText(t.get(), 5, "xy");
  SetText(t.get(), 6, std::string(70000, 'm'));
  SetText(t.get(), 7, std::string("\0\1\2", 3));
  SetText(t.get(), 8, "abcd");  // cut to 3
  f.f = 0.1;
  ASSERT_EQ(midas_set_value(t.get(), 9, &f), MIDAS_OK);
  ASSERT_EQ(midas_post(t.get(), nullptr), MIDAS_OK);
  ASSERT_EQ(midas_append(t.get()), MIDAS_OK);  // all null
  ASSERT_EQ(midas_post(t.get(), nullptr), MIDAS_OK);
  ASSERT_EQ(midas_append(t.get()), MIDAS_OK);
  SetInt(t.get(), 0, 1);
  ASSERT_EQ(midas_post(t.get(), nullptr), MIDAS_OK);

  std::string image = Save(t.get());
  Table r = Open(image);
  ASSERT_NE(r, nullptr) << midas_last_error();
  EXPECT_EQ(Save(r.get()), image);
  ASSERT_EQ(midas_row_count(r.get()), 3);
  midas_value v{};
  ASSERT_EQ(midas_get_value(r.get(), 0, 0, &v), MIDAS_OK);
  EXPECT_EQ(v.i, -5);
  ASSERT_EQ(midas_get_value(r.get(), 0, 1, &v), MIDAS_OK);
  EXPECT_EQ(v.i, 65535);
  ASSERT_EQ(midas_get_value(r.get(), 0, 2, &v), MIDAS_OK);
  EXPECT_EQ(v.i, 1);
  ASSERT_EQ(midas_get_value(r.get(), 0, 3, &v), MIDAS_OK);
  EXPECT_EQ(v.f, 2.5);
  EXPECT_EQ(Text(r.get(), 0, 4), "abcde");
  EXPECT_EQ(Text(r.get(), 0, 5), "xy");
  EXPECT_EQ(Text(r.get(), 0, 6), std::string(70000, 'm'));
  EXPECT_EQ(Text(r.get(), 0, 7), std::string("\0\1\2", 3));
  EXPECT_EQ(Text(r.get(), 0, 8), std::string("abc"));
  ASSERT_EQ(midas_get_value(r.get(), 0, 9, &v), MIDAS_OK);
  EXPECT_EQ(v.f, static_cast<double>(0.1f));
  for (int c = 0; c < 10; ++c) {
    ASSERT_EQ(midas_get_value(r.get(), 1, c, &v), MIDAS_OK);
    EXPECT_TRUE(v.is_null) << c;
  }
  EXPECT_EQ(midas_row_state(r.get(), 0), MIDAS_RS_INSERTED);
  midas_column c{};
  ASSERT_EQ(midas_get_column(r.get(), 9, &c), MIDAS_OK);
  EXPECT_EQ(c.attributes, MIDAS_A_REQUIRED);
}

TEST(EngineRows, ValuesOutOfRangeAreRefusedAndLeaveTheBuffer) {
  Table t = KitchenSink();
  ASSERT_EQ(midas_append(t.get()), MIDAS_OK);
  midas_value v{};
  v.i = 128;
  EXPECT_EQ(midas_set_value(t.get(), 0, &v), MIDAS_ERR_RANGE);
  EXPECT_NE(std::string(midas_last_error()).find("out of range"), std::string::npos);
  v.i = -129;
  EXPECT_EQ(midas_set_value(t.get(), 0, &v), MIDAS_ERR_RANGE);
  v.i = -128;
  EXPECT_EQ(midas_set_value(t.get(), 0, &v), MIDAS_OK);
  v.i = -1;
  EXPECT_EQ(midas_set_value(t.get(), 1, &v), MIDAS_ERR_RANGE);
  v.i = 65536;
  EXPECT_EQ(midas_set_value(t.get(), 1, &v), MIDAS_ERR_RANGE);
  ASSERT_EQ(midas_get_value(t.get(), MIDAS_BUFFER, 0, &v), MIDAS_OK);
  EXPECT_EQ(v.i, -128);
}

TEST(EngineRows, RowsInAPacketAreCheckedAndCutToTheirWidth) {
  // The contact image with one row: state 0, no nulls, ID 7, NAME 60 x 'n' (cut to 50), PHONE "12".
  std::string row = std::string("\0\0", 2) + std::string("\x07\0\0\0", 4) + std::string(1, 60) +
                    std::string(60, 'n') + std::string("\x02" "12");
  std::string image = Patch(ContactImage() + row, 0, static_cast<uint32_t>(88 + row.size()), 4);
  image = Patch(image, 18, 1, 4);
  Table t = Open(image);
  ASSERT_NE(t, nullptr) << midas_last_error();
  EXPECT_EQ(Text(t.get(), 0, 1), std::string(50, 'n'));
  EXPECT_EQ(Text(t.get(), 0, 2), "12");
  EXPECT_EQ(midas_row_state(t.get(), 0), MIDAS_RS_UNMODIFIED);

  // Bad record state, a row cut anywhere, bytes after the last row.
  EXPECT_NE(OpenError(Patch(image, 92, 4, 1)).find("record state"), std::string::npos);
  for (size_t n = 92; n < image.size(); ++n) {
    std::string cut = Patch(image.substr(0, n), 0, static_cast<uint32_t>(n - 4), 4);
    EXPECT_FALSE(OpenError(cut).empty()) << n;
  }
  std::string longer = Patch(image + "z", 0, static_cast<uint32_t>(image.size() - 3), 4);
  EXPECT_NE(OpenError(longer).find("after the last row"), std::string::npos);
  // A null bitmap with every column null needs no values.
  std::string nulls = Patch(Patch(ContactImage() + std::string("\0\x07", 2), 0, 90, 4), 18, 1, 4);
  Table n = Open(nulls);
  ASSERT_NE(n, nullptr) << midas_last_error();
  EXPECT_EQ(Text(n.get(), 0, 1), "<null>");
}

TEST(EngineRecords, StatesFollowPostEditAndDelete) {
  Table t = Open(ContactImage());
  ASSERT_EQ(midas_append(t.get()), MIDAS_OK);
  EXPECT_EQ(midas_append(t.get()), MIDAS_ERR_STATE);  // one pending record at a time
  SetInt(t.get(), 0, 1);
  int row = -1;
  ASSERT_EQ(midas_post(t.get(), &row), MIDAS_OK);
  EXPECT_EQ(row, 0);
  ASSERT_EQ(midas_insert(t.get(), 0), MIDAS_OK);
  SetInt(t.get(), 0, 1);  // duplicate IDs are fine
  ASSERT_EQ(midas_post(t.get(), &row), MIDAS_OK);
  EXPECT_EQ(row, 0);
  ASSERT_EQ(midas_row_count(t.get()), 2);
  uint32_t firstId = midas_row_id(t.get(), 1);
  EXPECT_EQ(midas_row_of_id(t.get(), firstId), 1);

  // Rows read back from an image are unmodified until edited; an edit marks them modified.
  std::string image = Save(t.get());
  Table r = Open(Patch(Patch(image, 92, 0, 1), 92 + 1 + 1 + 4, 0, 1));
  ASSERT_NE(r, nullptr) << midas_last_error();
  EXPECT_EQ(midas_row_state(r.get(), 0), MIDAS_RS_UNMODIFIED);
  EXPECT_EQ(midas_row_state(r.get(), 1), MIDAS_RS_UNMODIFIED);
  EXPECT_EQ(midas_change_count(r.get()), 0);
  ASSERT_EQ(midas_edit(r.get(), 0), MIDAS_OK);
  SetText(r.get(), 1, "Ana");
  EXPECT_EQ(Text(r.get(), 0, 1), "<null>");  // the stored row keeps its value until post
  ASSERT_EQ(midas_cancel(r.get()), MIDAS_OK);
  EXPECT_EQ(midas_row_state(r.get(), 0), MIDAS_RS_UNMODIFIED);
  ASSERT_EQ(midas_edit(r.get(), 0), MIDAS_OK);
  SetText(r.get(), 1, "Ana");
  ASSERT_EQ(midas_post(r.get(), nullptr), MIDAS_OK);
  EXPECT_EQ(midas_row_state(r.get(), 0), MIDAS_RS_MODIFIED);
  EXPECT_EQ(Text(r.get(), 0, 1), "Ana");

  // Deleting a stored row keeps it as deleted (written out, not visible); an inserted row just goes.
  ASSERT_EQ(midas_delete(r.get(), 1), MIDAS_OK);
  EXPECT_EQ(midas_row_count(r.get()), 1);
  EXPECT_EQ(midas_change_count(r.get()), 2);
  Table again = Open(Save(r.get()));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(midas_row_count(again.get()), 1);
  EXPECT_EQ(midas_change_count(again.get()), 2);
  ASSERT_EQ(midas_delete(t.get(), 0), MIDAS_OK);
  EXPECT_EQ(midas_change_count(t.get()), 1);
  EXPECT_EQ(midas_row_of_id(t.get(), firstId), 0);

  // Misuse is refused, never crashes.
  EXPECT_EQ(midas_post(t.get(), nullptr), MIDAS_ERR_STATE);
  EXPECT_EQ(midas_set_value(t.get(), 0, nullptr), MIDAS_ERR_ARG);
  EXPECT_EQ(midas_edit(t.get(), 5), MIDAS_ERR_ARG);
  EXPECT_EQ(midas_delete(t.get(), -1), MIDAS_ERR_ARG);
  EXPECT_EQ(midas_insert(t.get(), 3), MIDAS_ERR_ARG);
  midas_value v{};
  EXPECT_EQ(midas_get_value(t.get(), MIDAS_BUFFER, 0, &v), MIDAS_ERR_STATE);
  EXPECT_EQ(midas_get_value(nullptr, 0, 0, &v), MIDAS_ERR_ARG);
  EXPECT_EQ(midas_row_count(nullptr), 0);
  midas_table* none = nullptr;
  EXPECT_EQ(midas_open_image(nullptr, 10, &none), MIDAS_ERR_ARG);
  EXPECT_EQ(midas_create(nullptr, 0, &none), MIDAS_ERR_ARG);
  midas_column bad[] = {{"A", MIDAS_T_INT, 0, 3, 0, 0}};
  EXPECT_EQ(midas_create(bad, 1, &none), MIDAS_ERR_ARG);
  midas_column twice[] = {{"A", MIDAS_T_INT, 0, 4, 0, 0}, {"a", MIDAS_T_INT, 0, 4, 0, 0}};
  EXPECT_EQ(midas_create(twice, 2, &none), MIDAS_ERR_ARG);
  EXPECT_EQ(none, nullptr);
}
