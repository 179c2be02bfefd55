#include "crash/core/calibration.h"

#include <cstring>

namespace rvx {

bool ParseCalibrationRecord(std::string_view data, TCalibrationRecord& out) {
  if (data.size() < 20) return false;
  uint32_t v[5];
  std::memcpy(v, data.data(), sizeof v);
  out = {v[0], v[1], v[2], v[3], v[4]};
  return true;
}

bool CalibratedHeader(const TCalibrationRecord& record, const CalibrationTarget& target, TCalibratedHeader& out) {
  const bool forOther = record.codeBaseDelta & kCalibrationForOtherModule;
  if (forOther == target.reporterModule) return false;
  TCalibratedHeader h;
  if (target.reporterModule) {
    h.baseOfCode = target.fixedRoutine - record.codeBaseDelta - target.loadAddress;
    h.baseOfData = target.fixedVariable - record.dataBaseDelta - target.loadAddress;
  } else {
    h.baseOfCode = record.codeBaseDelta & ~kCalibrationForOtherModule;
    h.baseOfData = record.dataBaseDelta;
  }
  h.sizeOfCode = record.sizeOfCode;
  h.sizeOfInitializedData = record.sizeOfInitializedData;
  h.sizeOfUninitializedData = record.sizeOfUninitializedData;
  // Both ranges inside the image (64-bit sums: no wrap-around passes).
  const uint64_t size = target.imageSize;
  if (uint64_t(h.baseOfCode) + h.sizeOfCode > size) return false;
  if (uint64_t(h.baseOfData) + h.sizeOfInitializedData + h.sizeOfUninitializedData > size) return false;
  out = h;
  return true;
}

}  // namespace rvx
