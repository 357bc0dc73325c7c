// The debug form of a string, which the reader's "invalid type" message
// shows for a top-level string.
#pragma once

#include <string>
#include <string_view>

namespace vornel::json {

// The debug form of a UTF-8 string, as the "invalid type" messages show it:
// quoted, with \0 \t \n \r \" \\ escapes, and \u{hex} for controls, private
// use, white space, combining marks, format and default-ignorable characters
// and unassigned code points; every other character as itself.
std::string debug_string(std::string_view utf8);

}  // namespace vornel::json
