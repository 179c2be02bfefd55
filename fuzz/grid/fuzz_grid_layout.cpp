// Stored column layout values ("index,width") and sort index field lists come from outside the program (the
// form placement's store); any text must parse without crashing and give sane results.
#include <cstddef>
#include <cstdint>
#include <string>

#include "grid/jvdbgrid_logic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  fw::jvgrid::LayoutEntry e = fw::jvgrid::ParseLayoutValue(text, 3, 64);
  if (e.visible && e.width <= 0) __builtin_trap();
  size_t split = size / 2;
  std::vector<fw::jvgrid::IndexChoice> defs{{text.substr(0, split), false}, {text.substr(split), true}};
  int chosen = fw::jvgrid::ChooseSortIndex(defs, text.substr(0, split / 2), fw::smUp);
  if (chosen < -1 || chosen > 1) __builtin_trap();
  fw::jvgrid::PickListMatch({text.substr(0, split), text.substr(split)}, text.substr(0, split / 3));
  return 0;
}
