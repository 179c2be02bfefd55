// Module calibration: which record applies to which module, and the header fields it gives.
#include <gtest/gtest.h>

#include <string>

#include "crash/core/calibration.h"

namespace {

using rvx::CalibrationTarget;
using rvx::TCalibratedHeader;
using rvx::TCalibrationRecord;

TEST(Calibration, RecordFromTheResourceBytes) {
  const uint32_t words[5] = {182120, 11748, 1297408, 371712, 0};
  std::string data(reinterpret_cast<const char*>(words), sizeof words);
  TCalibrationRecord r;
  ASSERT_TRUE(rvx::ParseCalibrationRecord(data, r));
  EXPECT_EQ(r.codeBaseDelta, 182120u);
  EXPECT_EQ(r.dataBaseDelta, 11748u);
  EXPECT_EQ(r.sizeOfCode, 1297408u);
  EXPECT_EQ(r.sizeOfInitializedData, 371712u);
  EXPECT_EQ(r.sizeOfUninitializedData, 0u);
  EXPECT_FALSE(rvx::ParseCalibrationRecord(data.substr(0, 19), r));
}

TEST(Calibration, TheCrashReportersModuleMeasuresFromItsFixedRoutineAndVariable) {
  TCalibrationRecord r{182120, 11748, 1297408, 371712, 0};
  CalibrationTarget t;
  t.reporterModule = true;
  t.loadAddress = 0x400000;
  t.imageSize = 0x200000;
  t.fixedRoutine = 0x400000 + 0x1000 + 182120;   // the routine lies 182120 bytes into the code
  t.fixedVariable = 0x400000 + 0x140000 + 11748;
  TCalibratedHeader h;
  ASSERT_TRUE(rvx::CalibratedHeader(r, t, h));
  EXPECT_EQ(h.baseOfCode, 0x1000u);
  EXPECT_EQ(h.baseOfData, 0x140000u);
  EXPECT_EQ(h.sizeOfCode, 1297408u);
  EXPECT_EQ(h.sizeOfInitializedData, 371712u);
  // Loaded elsewhere, the fixed routine moves with the module: the same relative bases.
  t.loadAddress += 0x10000000;
  t.fixedRoutine += 0x10000000;
  t.fixedVariable += 0x10000000;
  TCalibratedHeader moved;
  ASSERT_TRUE(rvx::CalibratedHeader(r, t, moved));
  EXPECT_EQ(moved.baseOfCode, 0x1000u);
  EXPECT_EQ(moved.baseOfData, 0x140000u);
  // A record meant for another module does not apply to the crash reporter's.
  TCalibrationRecord other = r;
  other.codeBaseDelta |= rvx::kCalibrationForOtherModule;
  EXPECT_FALSE(rvx::CalibratedHeader(other, t, h));
}

TEST(Calibration, OtherModulesTakeTheBasesAsTheyAre) {
  TCalibrationRecord r{0x80001000, 0x50000, 0x4F000, 0x8000, 0x1000};
  CalibrationTarget t;
  t.loadAddress = 0x10000000;
  t.imageSize = 0x60000;
  TCalibratedHeader h;
  ASSERT_TRUE(rvx::CalibratedHeader(r, t, h));
  EXPECT_EQ(h.baseOfCode, 0x1000u);
  EXPECT_EQ(h.baseOfData, 0x50000u);
  EXPECT_EQ(h.sizeOfUninitializedData, 0x1000u);
  r.codeBaseDelta = 0x1000;  // without the mark it is meant for the crash reporter's module
  EXPECT_FALSE(rvx::CalibratedHeader(r, t, h));
}

TEST(Calibration, RangesOutsideTheImageLeaveTheHeaderAlone) {
  CalibrationTarget t;
  t.loadAddress = 0x10000000;
  t.imageSize = 0x60000;
  TCalibratedHeader h;
  EXPECT_FALSE(rvx::CalibratedHeader({0x80001000, 0x50000, 0x60000, 0, 0}, t, h));      // code past the end
  EXPECT_FALSE(rvx::CalibratedHeader({0x80001000, 0x50000, 0x1000, 0xF000, 0x2000}, t, h));  // data past it
  EXPECT_FALSE(rvx::CalibratedHeader({0x80001000, 0xFFFFF000, 0x1000, 0x2000, 0}, t, h));  // wraps around
  // The crash reporter's module with a record of another build: the routine lies before the delta.
  t.reporterModule = true;
  t.fixedRoutine = t.loadAddress + 0x2000;
  t.fixedVariable = t.loadAddress + 0x50000;
  EXPECT_FALSE(rvx::CalibratedHeader({0x3000, 0x10, 0x1000, 0x100, 0}, t, h));
  EXPECT_TRUE(rvx::CalibratedHeader({0x1000, 0x10, 0x1000, 0x100, 0}, t, h));
}

}  // namespace
