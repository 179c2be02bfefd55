// PE images from arbitrary bytes: layout, sections, exports and unwind information never fault.
#include <cstdint>
#include <string>

#include "crash/stack/function_analyser.h"
#include "crash/stack/image_file.h"
#include "crash/stack/module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  rvx::BufferReader raw(0, bytes.data(), bytes.size());
  rvx::Address nt = rvx::PeNtHeaders(raw, 0);
  if (nt) {
    rvx::PeSections(raw, nt);
    rvx::PeRvaToFileOffset(raw, nt, 0x1000);
  }
  rvx::ImageFile image;
  std::string error;
  if (!image.Load(bytes, "fuzz.dll", error)) return 0;
  rvx::ExportEnvironment env;
  int n = 0;
  for (const rvx::ExportEntry& e : rvx::ListExports(image, image.base())) {
    if (++n > 16) break;
    rvx::ExportNameAt(image, image.base(), image.base() + e.rva, true);
    if (!e.name.empty()) rvx::ResolveExportByName(image, image.base(), e.name, false, env);
    rvx::ResolveExportByOrdinal(image, image.base(), e.ordinal, env);
    rvx::TFunctionInfo fi;
    rvx::AnalyseFunction(image, image.base() + e.rva, fi);
  }
  for (auto [lo, hi] : image.CodeRanges()) {
    rvx::LandingPadsOf(image, image.base(), lo);
    break;
  }
  return 0;
}
