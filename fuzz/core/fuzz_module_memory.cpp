// Reading a module's memory that may hold anything: the class chain of a thread parameter, the import
// slots of an image and a calibration record. Nothing may fault or loop, and what is found lies in the
// memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crash/core/calibration.h"
#include "crash/core/import_slots.h"
#include "crash/core/thread_object.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr rvx::Address kBase = 0x10000;
  rvx::BufferReader memory(kBase, data, size);
  // The last 8 bytes name an object and a routine; the first ones may be an image's headers.
  uint32_t object = 0, routine = 0;
  if (size >= 8) {
    memory.Read32(kBase + static_cast<uint32_t>(size) - 8, object);
    memory.Read32(kBase + static_cast<uint32_t>(size) - 4, routine);
  }
  if (rvx::ObjectClassNames(memory, object).size() > 1 + rvx::kThreadClassAncestors) abort();
  rvx::IsThreadObject(memory, kBase + 8);
  for (const rvx::ImportSlot& s : rvx::ImportSlotsHoldingAny(memory, kBase, {routine, object}))
    if (s.slot < kBase || s.slot - kBase + 4 > size || s.routine > 1) abort();
  rvx::TCalibrationRecord record;
  if (rvx::ParseCalibrationRecord(std::string_view(reinterpret_cast<const char*>(data), size), record)) {
    rvx::CalibrationTarget target{(record.sizeOfCode & 1) != 0, kBase, static_cast<uint32_t>(size), object, routine};
    rvx::TCalibratedHeader h;
    if (rvx::CalibratedHeader(record, target, h) &&
        (uint64_t(h.baseOfCode) + h.sizeOfCode > size ||
         uint64_t(h.baseOfData) + h.sizeOfInitializedData + h.sizeOfUninitializedData > size))
      abort();
  }
  return 0;
}
