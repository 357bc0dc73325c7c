// Reader against writer on any bytes. See fuzz_properties.h.
#include <cstdlib>

#include "fuzz_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!vornel::fuzz::reader_and_writer_agree(std::string_view(reinterpret_cast<const char*>(data), size))) std::abort();
  return 0;
}
