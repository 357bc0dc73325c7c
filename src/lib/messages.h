// What the boundary says: the texts of the exceptions it raises itself, and
// its last words before an abort. A name ending in Format is a format for
// PyErr_Format.
#pragma once

#include <string_view>

namespace vornel::lib {

// ---- Arguments: TypeError, worded as the interpreter words its own ----------

inline constexpr char kTooManyPositionalFormat[] =
    "columnarize() takes from 1 to 2 positional arguments but %zd were given";
inline constexpr char kUnexpectedKeywordFormat[] = "columnarize() got an unexpected keyword argument '%U'";
inline constexpr char kMultipleValuesFormat[] = "columnarize() got multiple values for argument '%s'";
inline constexpr char kMissingPayload[] = "columnarize() missing 1 required positional argument: 'payload'";
// The object's type name, then the target type's.
inline constexpr char kTypeMismatchFormat[] = "'%U' object is not an instance of '%s'";
inline constexpr char kNoneMismatchFormat[] = "'None' is not an instance of '%s'";
inline constexpr char kUnnamedTypeMismatchFormat[] =
    "'<failed to extract type name>' object is not an instance of '%s'";
// Notes added to the exception of an argument that failed its conversion.
inline constexpr std::string_view kPayloadNote = "while processing 'payload'";
inline constexpr std::string_view kMinRowsNote = "while processing 'min_rows'";

// ---- Exhausted memory: MemoryError -------------------------------------------

// An output beyond both limits of transform_call.cpp: its size, the payload's.
inline constexpr char kOutputTooLargeFormat[] = "columnar output would be %zu bytes for a payload of %zu bytes";

// ---- Faults ------------------------------------------------------------------

// RuntimeError for a fault of the transform: this, then what the fault said.
inline constexpr std::string_view kTransformFaultPrefix = "internal panic during columnarization: ";
// What a fault of the transform that says nothing is taken to say. It names
// the transform by its documented name.
inline constexpr std::string_view kSilentTransformFault = "unknown panic in columnarize_json";
// FaultException's text for a fault outside the transform that says nothing.
inline constexpr std::string_view kSilentBoundaryFault = "unknown panic at ffi boundary";
// SystemError when an interpreter call failed without setting an exception.
inline constexpr char kNoExceptionSet[] = "attempted to fetch exception but none was set";
// FaultException when the module's __all__ cannot take the function's name.
inline constexpr std::string_view kAppendToAllFailed = "could not append __name__ to __all__";
// Standard error's last line when a fault strikes while one is reported.
inline constexpr char kAbortDiagnostic[] = "vornel_codec: uncaught panic at ffi boundary\n";

// FaultException itself: its dotted name (also its key in each
// interpreter's dictionary) and its docstring.
inline constexpr char kFaultExceptionName[] = "vornel_codec.FaultException";
inline constexpr char kFaultExceptionDoc[] =
    "Raised when the native code of vornel_codec hits an internal fault.\n\n"
    "Like SystemExit it derives from BaseException, not Exception, so that it\n"
    "propagates all the way up the stack and typically makes the interpreter exit.";

}  // namespace vornel::lib
