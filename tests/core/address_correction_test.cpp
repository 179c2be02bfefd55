// Exception address correction: an address inside an instruction whose neighbour 4 bytes on starts one is
// moved there; valid addresses, and addresses without symbol data, stay.
#include <gtest/gtest.h>

#include "crash/core/address_correction.h"
#include "crash/stack/function_analyser.h"
#include "crash/stack/map_build.h"

namespace {
using namespace rvx;

// Symbol data with one routine, "Routine" at 0x1000, of the given size.
TMapFile OneRoutineAt0x1000(uint32_t size) {
  TMapFile map;
  map.valid = true;
  MapBuilder b(map);
  b.AddSegment(true, 0x1000, size, "unit.cpp");
  b.AddPublic(true, "Routine", 0x1000);
  return map;
}

TEST(AddressCorrection, MovesOnlyAddressesFourBytesBeforeAnInstruction) {
  const uint8_t code[] = {
      0x55,                          // 1000 push ebp
      0x89, 0xE5,                    // 1001 mov ebp, esp
      0xB8, 0x01, 0x00, 0x00, 0x00,  // 1003 mov eax, 1
      0xB9, 0x02, 0x00, 0x00, 0x00,  // 1008 mov ecx, 2
      0x5D,                          // 100d pop ebp
      0xC3,                          // 100e ret
  };
  BufferReader memory(0x1000, code, sizeof code);
  TMapFile map = OneRoutineAt0x1000(sizeof code);
  EXPECT_EQ(CorrectedExceptionAddress(memory, map, 0x1004), 0x1008u);  // inside mov eax; 0x1008 starts one
  EXPECT_EQ(CorrectedExceptionAddress(memory, map, 0x1003), 0x1003u);  // already an instruction start
  EXPECT_EQ(CorrectedExceptionAddress(memory, map, 0x1005), 0x1005u);  // 0x1009 is no start either
  EXPECT_EQ(CorrectedExceptionAddress(memory, map, 0), 0u);
  EXPECT_TRUE(IsValidExceptionAddress(memory, 0x1000, 0x100d));
  EXPECT_FALSE(IsValidExceptionAddress(memory, 0x1000, 0x100a));
  TMapFile none;
  EXPECT_EQ(CorrectedExceptionAddress(memory, none, 0x1004), 0x1004u);
}

// A call that does not come back ends its area; the bytes after it are no code of the function, but another
// area starts 4 bytes on. The call's return address is where an exception raised by it is recorded: it stays.
TEST(AddressCorrection, TheReturnAddressOfACallThatDoesNotComeBackStays) {
  const uint8_t code[] = {
      0x55,                          // 1000 push ebp
      0x74, 0x09,                    // 1001 je 100c
      0xE8, 0xF8, 0x1F, 0x00, 0x00,  // 1003 call 3000 (ends the program)
      0xCC, 0xCC, 0xCC, 0xCC,        // 1008 padding
      0x5D,                          // 100c pop ebp
      0xC3,                          // 100d ret
  };
  BufferReader memory(0x1000, code, sizeof code);
  TMapFile map = OneRoutineAt0x1000(sizeof code);
  RuntimeRoutines before = OwnRuntimeRoutines();
  RuntimeRoutines routines = before;
  routines.halt = 0x3000;
  SetOwnRuntimeRoutines(routines);
  EXPECT_EQ(CorrectedExceptionAddress(memory, map, 0x1008), 0x1008u);
  EXPECT_TRUE(IsValidExceptionAddress(memory, 0x1000, 0x1003));
  // Inside the call's operand, 4 bytes before its return address: moved there.
  EXPECT_EQ(CorrectedExceptionAddress(memory, map, 0x1004), 0x1008u);
  SetOwnRuntimeRoutines(before);
}

}  // namespace
