// Loads the dataset engine library at run time and looks up its C functions.
#include <windows.h>

#include <map>
#include <mutex>

#include "framework/exceptions.h"
#include "framework/midas_api.h"

namespace fw {

const MidasApi& LoadMidas(const std::string& libraryName) {
  static std::mutex lock;
  static std::map<std::string, MidasApi> loaded;
  std::lock_guard<std::mutex> guard(lock);
  auto it = loaded.find(libraryName);
  if (it != loaded.end()) return it->second;
  HMODULE module = LoadLibraryA(libraryName.c_str());
  if (!module) throw EDatabaseError("Erro carregando " + libraryName);
  MidasApi api;
  bool complete = true;
#define FW_MIDAS_LOOKUP(name)                                                                 \
  api.midas_##name = reinterpret_cast<decltype(api.midas_##name)>(reinterpret_cast<void*>(GetProcAddress(module, "midas_" #name))); \
  complete = complete && api.midas_##name != nullptr;
  FW_MIDAS_FUNCTIONS(FW_MIDAS_LOOKUP)
#undef FW_MIDAS_LOOKUP
  if (!complete) {
    FreeLibrary(module);
    throw EDatabaseError("Erro carregando " + libraryName);
  }
  return loaded.emplace(libraryName, api).first->second;
}

}  // namespace fw
