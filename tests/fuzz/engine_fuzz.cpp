// The streaming engine against the document path. See fuzz_properties.h.
#include <cstdlib>

#include "fuzz_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!vornel::fuzz::engine_matches_documents(std::string_view(reinterpret_cast<const char*>(data), size))) {
    std::abort();
  }
  return 0;
}
