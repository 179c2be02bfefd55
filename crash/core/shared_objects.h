// Named kernel objects of the process (settings anchor, thread-name buffer, restart block) can be reached by
// name by every program of the session, which may have created them first, with any content and any access
// list, and may change them while the process runs. These helpers let their users touch such an object only
// in ways that cannot fault, and recognise what the process made itself.
#pragma once

#include <cstdint>

namespace rvx {

// The markers the process writes into its named objects after the fields that its modules read.
constexpr uint32_t kSettingsAnchorMarker = 0x41585652;  // "RVXA"
constexpr uint32_t kThreadNameMarker = 0x54585652;      // "RVXT"

// A view of the first `size` bytes of a mapping, or null when it cannot be mapped or its pages are not all
// committed and readable (and writable, with `write`). The caller unmaps it.
void* MapSharedView(void* mapping, uint32_t size, bool write);

// Whether the section handle `other` reaches the same memory as `own` (a handle this process opened by
// name): a value written through a view of one must be read through a view of the other. Handles of other
// kinds, sections smaller than `size` and `other` == `own` answer false.
bool SameSharedMemory(void* own, void* other, uint32_t size);

// The id of the process that created this one, 0 when the system does not say.
uint32_t ParentProcessId();

}  // namespace rvx
