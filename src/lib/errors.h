// How the boundary reports failures to the interpreter.
//
// Every function here runs with the interpreter lock held.
#pragma once

#include <exception>
#include <new>
#include <string_view>

#include "lib/python.h"
#include "lib/messages.h"

namespace vornel::lib {

// `text` as a str that encodes as UTF-8: a str holding lone surrogates comes
// back with each of them as three U+FFFD (its "surrogatepass" bytes decoded
// with replacement), so that a message built from it can always be printed
// and logged. Returns a new reference, or nullptr with an exception set.
PyObject* lenient_text(PyObject* text);

// Raises TypeError "'T' object is not an instance of 'TARGET'" (or "'None' is
// not an instance of 'TARGET'") for `object`. Returns nullptr.
[[gnu::cold]] PyObject* raise_type_mismatch(PyObject* object, const char* target);

// Adds `note` to the exception being raised, which keeps its type and
// message. A failure to add the note is discarded.
[[gnu::cold]] void add_note_to_raised(std::string_view note);

// Makes sure an exception is set after an interpreter call reported failure.
[[gnu::cold]] void ensure_exception_set();

// Sets the interpreter's FaultException (a BaseException, not an Exception)
// with `message`, for an internal fault outside the transform's containment.
// A fault while doing so ends the process.
[[gnu::cold]] void raise_fault(std::string_view message) noexcept;

// Runs `body`, turning any C++ exception escaping it into FaultException
// (std::bad_alloc into MemoryError). `failed` is what the caller returns
// with an exception set.
template <class Result, class Body>
Result contain_faults(Result failed, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& fault) {
    raise_fault(fault.what());
  } catch (...) {
    raise_fault(kSilentBoundaryFault);
  }
  return failed;
}

}  // namespace vornel::lib
