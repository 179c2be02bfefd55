// Module calibration: a module may carry a calibration record (resource "RVX"/"CALIBRATE", five 32-bit
// values) that sets the code and data fields of its loaded image's optional header, on which the stack
// walker's code and data ranges rest.
//
// Record: code base delta (bit 31 set: the record is meant for a module other than the crash reporter's),
// data base delta, size of code, size of initialised data, size of uninitialised data. For the crash
// reporter's own module the bases are measured from a fixed routine and a fixed variable of the crash
// reporter (base of code = routine - delta - load address), so that they hold wherever the module was
// loaded; for other modules the deltas are the bases themselves.
#pragma once

#include <cstdint>
#include <string_view>

namespace rvx {

struct TCalibrationRecord {
  uint32_t codeBaseDelta = 0, dataBaseDelta = 0;
  uint32_t sizeOfCode = 0, sizeOfInitializedData = 0, sizeOfUninitializedData = 0;
};
constexpr uint32_t kCalibrationForOtherModule = 0x80000000u;

// The record held by the resource's bytes; false when there are fewer than 20.
bool ParseCalibrationRecord(std::string_view data, TCalibrationRecord& out);

// The optional header fields that calibration sets (relative to the load address).
struct TCalibratedHeader {
  uint32_t baseOfCode = 0, baseOfData = 0;
  uint32_t sizeOfCode = 0, sizeOfInitializedData = 0, sizeOfUninitializedData = 0;
};

struct CalibrationTarget {
  bool reporterModule = false;  // the module that carries the crash reporter
  uint32_t loadAddress = 0;
  uint32_t imageSize = 0;       // SizeOfImage of the loaded image
  uint32_t fixedRoutine = 0;    // address of the crash reporter's fixed routine
  uint32_t fixedVariable = 0;   // address of its fixed variable
};

// The header fields for the module, false when the record does not apply to it (bit 31 must be clear for the
// crash reporter's module and set for any other) or when the ranges it gives do not lie inside the image: a
// record made for another build of the module leaves the header as the linker wrote it.
bool CalibratedHeader(const TCalibrationRecord& record, const CalibrationTarget& target, TCalibratedHeader& out);

}  // namespace rvx

#ifdef _WIN32
namespace rvx {
// Calibrates the program file, the crash reporter's module and every loaded runtime package (".bpl") that
// carry a record; returns how many were calibrated.
int CalibrateModules();
}  // namespace rvx
#endif
