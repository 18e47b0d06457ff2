#include "host/utility/HugePagesU.h"

#include <sys/mman.h>

#include <cstdlib>

namespace TamblixHq::NODRA::Utility {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

void* mfTakeHugePages(std::size_t bytes) {
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  if (rounded < bytes) return nullptr;
  void* memory = std::aligned_alloc(kHugePage, rounded);
#ifdef MADV_HUGEPAGE
  // Advice only: without huge pages the memory is the same, in small pages.
  if (memory) madvise(memory, rounded, MADV_HUGEPAGE);
#endif
  return memory;
}

void mpGiveHugePages(void* memory) { std::free(memory); }

}  // namespace TamblixHq::NODRA::Utility
