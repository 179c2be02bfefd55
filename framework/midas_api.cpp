// The native build links the dataset engine statically; the Windows build loads it (midas_api_win.cpp).
#include "framework/midas_api.h"

#ifndef _WIN32
namespace fw {

const MidasApi& LoadMidas(const std::string&) {
  static const MidasApi api = [] {
    MidasApi a;
#define FW_MIDAS_BIND(name) a.midas_##name = &::midas_##name;
    FW_MIDAS_FUNCTIONS(FW_MIDAS_BIND)
#undef FW_MIDAS_BIND
    return a;
  }();
  return api;
}

}  // namespace fw
#endif
