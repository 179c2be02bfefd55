// How client datasets reach the dataset engine: a table of the engine's C functions, filled from the statically
// linked engine (native build) or from the engine library loaded at run time (Windows build).
#pragma once
#include <string>

#include "engine/midas.h"

namespace fw {

#define FW_MIDAS_FUNCTIONS(X)                                                                              \
  X(open_image) X(open_packet) X(create) X(free) X(save_image) X(column_count) X(get_column) X(row_count) \
  X(row_state) X(row_id) X(row_of_id) X(change_count) X(get_value) X(append) X(insert) X(edit)           \
  X(set_value) X(post) X(cancel) X(pending) X(delete) X(last_error)

struct MidasApi {
#define FW_MIDAS_MEMBER(name) decltype(&::midas_##name) midas_##name = nullptr;
  FW_MIDAS_FUNCTIONS(FW_MIDAS_MEMBER)
#undef FW_MIDAS_MEMBER
};

// The engine's functions. The Windows build loads the named library once (kept for the life of the process)
// and raises EDatabaseError "Erro carregando <name>" when it or one of its functions is missing.
const MidasApi& LoadMidas(const std::string& libraryName);

}  // namespace fw
