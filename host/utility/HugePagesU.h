// Large buffers backed by huge pages where the system allows it: one page fault per 2 MiB
// instead of one per 4 KiB, for buffers filled at once and used over and over (on a virtual
// machine a fault can cost more than filling the page).
#pragma once

#include <cstddef>

namespace TamblixHq::NODRA::Utility {

// `bytes` of memory, aligned to 2 MiB and rounded up to it; nullptr when there is none.
void* mfTakeHugePages(std::size_t bytes);
// Gives back what mfTakeHugePages gave.
void mpGiveHugePages(void* memory);

}  // namespace TamblixHq::NODRA::Utility
