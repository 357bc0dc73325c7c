// The row-to-column transform on the document model: the reference that
// the streaming engine is checked against, and the path that reports every
// refused payload's message.
#pragma once

#include <string_view>

#include "columnar/columnarize.h"

namespace vornel::columnar {

// Reads the whole payload into values, then writes the columnar document.
Outcome columnarize_document(std::string_view payload);

}  // namespace vornel::columnar
