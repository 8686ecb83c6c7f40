#include "launcher/loaded_object.h"

#include <link.h>

#include <algorithm>

namespace vorlane {
namespace {

struct Search {
  std::uintptr_t address = 0;
  std::optional<LoadedObject> found;
};

int visit(dl_phdr_info* info, std::size_t /*size*/, void* data) noexcept {
  auto& search = *static_cast<Search*>(data);
  const std::uintptr_t base = info->dlpi_addr;
  LoadedObject object{UINTPTR_MAX, 0, nullptr};
  bool holds = false;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type == PT_LOAD) {
      const std::uintptr_t start = base + header.p_vaddr;
      const std::uintptr_t end = start + header.p_memsz;
      object.map_start = std::min(object.map_start, start);
      object.map_end = std::max(object.map_end, end);
      holds = holds || (search.address >= start && search.address < end);
    } else if (header.p_type == PT_GNU_EH_FRAME) {
      // The loader hands addresses over as integers.
      object.eh_frame = reinterpret_cast<const void*>(  // NOLINT(performance-no-int-to-ptr)
          base + header.p_vaddr);
    }
  }
  if (!holds) {
    return 0;
  }
  search.found = object;
  return 1;  // stops the iteration
}

}  // namespace

std::optional<LoadedObject> find_loaded_object(const void* address) noexcept {
  Search search{reinterpret_cast<std::uintptr_t>(address), std::nullopt};
  dl_iterate_phdr(visit, &search);
  return search.found;
}

}  // namespace vorlane
