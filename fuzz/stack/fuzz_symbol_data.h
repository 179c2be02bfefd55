// Shared by the symbol data fuzz targets: the bases of a typical program and the lookups run over whatever
// a reader built, so that a damaged object is also exercised.
#pragma once
#include "crash/stack/map_build.h"
#include "crash/stack/map_file.h"

inline rvx::ModuleBases FuzzBases() {
  rvx::ModuleBases b;
  b.module = 0x400000;
  b.codeBase = 0x401000;
  b.codeTop = 0x480000;
  b.dataBase = 0x480000;
  b.dataTop = 0x4a0000;
  return b;
}

inline void ExerciseLookups(const rvx::TMapFile& m) {
  for (rvx::Address a = 0x400ff0; a < 0x402000; a += 0x35) {
    rvx::SegmentAt(m, true, a);
    rvx::SegmentAt(m, false, a);
    rvx::PublicAt(m, a);
    rvx::LineAt(m, a);
    rvx::RoutineNameIn(m, a);
  }
  if (!m.publics.empty()) rvx::PublicByName(m, true, "unit", false, m.publics.front().name);
}
