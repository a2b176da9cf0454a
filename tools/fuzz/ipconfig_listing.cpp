// libFuzzer target for the scan of the "ipconfig" listing: the input is the captured listing.
// The address table must come out as the address list shows it: filled from the first slot
// on, every slot a terminated token without blanks or line ends.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "app/adapter_discovery.h"
#include "tools/fuzz/fuzz_support.h"

namespace {

void check_slot(const std::array<char, kAdapterSlotBytes>& slot, bool& emptySeen) {
  const auto end = std::find(slot.begin(), slot.end(), '\0');
  if (end == slot.end()) fuzz::fail("an address slot without its terminating zero");
  if (end == slot.begin()) {
    emptySeen = true;
    return;
  }
  if (emptySeen) fuzz::fail("an address after an empty slot");
  if (std::string_view(slot.data()).find_first_of("\r\n\t ") != std::string_view::npos)
    fuzz::fail("an address with a separator in it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::InputStream listing = fuzz::open_input(data, size);
  scan_adapter_listing(listing.get());
  bool emptySeen = false;
  for (const auto& slot : adapterAddresses) check_slot(slot, emptySeen);
  return 0;
}
