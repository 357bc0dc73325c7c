// Any bytes through the whole transform. See fuzz_properties.h.
#include <cstdlib>

#include "fuzz_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!vornel::fuzz::columnarize_is_sound(std::string_view(reinterpret_cast<const char*>(data), size))) std::abort();
  return 0;
}
