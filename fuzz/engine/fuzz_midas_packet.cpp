// The dataset engine's packet reader on arbitrary bytes (as a table image and as a bare packet). Whatever it
// accepts must write an image that reads back to the same image, and must survive reading every value and a
// round of edits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/midas.h"

namespace {

std::string Save(const midas_table* t) {
  uint32_t size = 0;
  if (midas_save_image(t, nullptr, 0, &size) != MIDAS_ERR_SPACE) abort();
  std::string out(size, '\0');
  if (midas_save_image(t, out.data(), size, &size) != MIDAS_OK) abort();
  return out;
}

void Exercise(midas_table* t, const uint8_t* data, size_t size) {
  int columns = midas_column_count(t);
  int rows = midas_row_count(t);
  for (int r = -1; r <= rows; ++r)
    for (int c = -1; c <= columns; ++c) {
      midas_value v{};
      midas_get_value(t, r, c, &v);
      if (!v.is_null && v.size && !v.data) abort();
    }
  std::string image = Save(t);
  midas_table* again = nullptr;
  if (midas_open_image(image.data(), static_cast<uint32_t>(image.size()), &again) != MIDAS_OK) abort();
  if (Save(again) != image || midas_row_count(again) != rows) abort();
  midas_free(again);
  // Edits driven by the input: append a record filled from the input's bytes, edit and delete rows.
  if (midas_append(t) != MIDAS_OK) abort();
  for (int c = 0; c < columns; ++c) {
    midas_value v{};
    v.i = static_cast<int8_t>(size ? data[static_cast<size_t>(c) % size] : 0);
    v.f = v.i / 3.0;
    v.data = reinterpret_cast<const char*>(data);
    v.size = static_cast<uint32_t>(size);
    midas_set_value(t, c, &v);
  }
  if (midas_post(t, nullptr) != MIDAS_OK) abort();
  if (rows > 0) {
    if (midas_edit(t, 0) != MIDAS_OK) abort();
    if (midas_post(t, nullptr) != MIDAS_OK) abort();
    if (midas_delete(t, rows / 2) != MIDAS_OK) abort();
  }
  Save(t);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  midas_table* t = nullptr;
  if (midas_open_image(data, static_cast<uint32_t>(size), &t) == MIDAS_OK) {
    Exercise(t, data, size);
    midas_free(t);
  } else if (t != nullptr || midas_last_error()[0] == 0) {
    abort();
  }
  if (midas_open_packet(data, static_cast<uint32_t>(size), &t) == MIDAS_OK) {
    Exercise(t, data, size);
    midas_free(t);
  }
  return 0;
}
