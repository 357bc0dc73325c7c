#include "lib/transform_call.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "columnar/columnarize.h"
#include "lib/test_hooks.h"

namespace vornel::lib {
namespace {

// What a stretch of work without the lock came to.
struct Stretch {
  enum class Status : uint8_t { written, result_too_small, refused, out_of_memory, fault };
  Status status = Status::fault;
  std::optional<columnar::Plan> plan;  // once planned
  std::string message;                 // refused: the transform's; fault: the whole RuntimeError text
};

// Runs `body` and turns whatever escapes it into the stretch's outcome.
// Nothing may leave: this runs without the lock, where an exception could
// not be turned into a Python one.
template <class Body>
void contain(Stretch& stretch, Body&& body) noexcept {
  try {
    body();
  } catch (const std::bad_alloc&) {
    stretch.status = Stretch::Status::out_of_memory;
  } catch (const std::exception& fault) {
    stretch.status = Stretch::Status::fault;
    try {
      stretch.message = std::string("internal panic during columnarization: ") + fault.what();
    } catch (...) {
      stretch.status = Stretch::Status::out_of_memory;
    }
  } catch (...) {
    stretch.status = Stretch::Status::fault;
    stretch.message = "internal panic during columnarization: unknown panic in columnarize_json";
  }
}

// The lock is released for this object's lifetime. Nothing that runs then
// may touch an interpreter object, except the bytes named where it is used.
class LockReleased {
 public:
#if defined(VORNEL_TEST_KEEP_LOCK)
  // A test-only build that keeps the lock, to show that the lock test fails
  // without the release.
  LockReleased() noexcept = default;
#else
  LockReleased() noexcept : saved_(PyEval_SaveThread()) {}
  ~LockReleased() { PyEval_RestoreThread(saved_); }

 private:
  PyThreadState* saved_;
#endif
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;
};

// The result is allocated before the lock is released, at a length that the
// output of most payloads stays within: rows as lists are shorter than rows
// as objects, unless absent members must be padded with nulls. The slack
// covers the fixed members of tiny documents. Untouched, the unused part
// costs address space only, and it is given back when the result is cut to
// its length.
constexpr size_t kResultSlack = 256;

// Outputs beyond both limits are refused before anything is allocated for
// them: rows that each bring new keys make the null padding grow with rows
// times columns, so a megabyte of payload can ask for tens of gigabytes,
// which an overcommitting kernel would answer with the out-of-memory killer
// rather than a failed allocation.
constexpr size_t kAbsurdOutputBytes = size_t{256} << 20;
constexpr size_t kAbsurdExpansion = 64;

bool is_absurd(size_t output, size_t payload) noexcept {
  size_t limit;
  return output > kAbsurdOutputBytes && !__builtin_mul_overflow(payload, kAbsurdExpansion, &limit) && output > limit;
}

PyObject* raise_runtime_error(std::string_view message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return nullptr;
  PyErr_SetObject(PyExc_RuntimeError, text);
  Py_DECREF(text);
  return nullptr;
}

PyObject* raise_outcome(const Stretch& stretch) {
  if (stretch.status == Stretch::Status::out_of_memory) return PyErr_NoMemory();
  return raise_runtime_error(stretch.message);
}

// Plans the document and, when it fits, writes it into `out`.
//
// Runs without the lock. It reads the payload's buffer in place: a bytes
// object never changes, and the caller holds a reference to it for the whole
// call. It writes only into `out`, the buffer of a result object that no
// other thread can see until the call returns it.
Stretch plan_and_write(std::string_view payload, char* out, size_t capacity) noexcept {
  Stretch stretch;
  contain(stretch, [&] {
    test_hooks::fault_if_requested(test_hooks::FaultSite::transform, payload);
    auto planned = columnar::plan_columnar(payload);
    if (auto* message = std::get_if<std::string>(&planned)) {
      stretch.status = Stretch::Status::refused;
      stretch.message = std::move(*message);
      return;
    }
    stretch.plan.emplace(std::move(std::get<columnar::Plan>(planned)));
    if (stretch.plan->output_size() > capacity) {
      stretch.status = Stretch::Status::result_too_small;
      return;
    }
    stretch.plan->write(out);
    stretch.status = Stretch::Status::written;
  });
  return stretch;
}

// Writes a planned document into `out`, under the same rules.
void write_planned(Stretch& stretch, char* out) noexcept {
  contain(stretch, [&] {
    stretch.plan->write(out);
    stretch.status = Stretch::Status::written;
  });
}

}  // namespace

PyObject* columnarize_bytes(PyObject* payload) {
  // A test build fails the allocations of this call that the payload's prefix asks for.
  const test_hooks::AllocationFailures failures(
      std::string_view(PyBytes_AS_STRING(payload), static_cast<size_t>(PyBytes_GET_SIZE(payload))));
  const std::string_view text = failures.payload();
  test_hooks::fault_if_requested(test_hooks::FaultSite::entry, text);
  const size_t guess = text.size() + kResultSlack;
  if (guess > static_cast<size_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
  PyObject* result = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(guess));
  if (result == nullptr) return nullptr;

  Stretch stretch;
  {
    LockReleased released;
    stretch = plan_and_write(text, PyBytes_AS_STRING(result), guess);
  }

  if (stretch.status == Stretch::Status::result_too_small) {
    // The output is longer than the payload: a new result at its length.
    Py_DECREF(result);
    const size_t size = stretch.plan->output_size();
    if (is_absurd(size, text.size())) {
      return PyErr_Format(PyExc_MemoryError, "columnar output would be %zu bytes for a payload of %zu bytes", size,
                          text.size());
    }
    if (size > static_cast<size_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
    result = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
    if (result == nullptr) return nullptr;
    LockReleased released;
    write_planned(stretch, PyBytes_AS_STRING(result));
  }

  if (stretch.status != Stretch::Status::written) {
    Py_DECREF(result);
    return raise_outcome(stretch);
  }
  const auto size = static_cast<Py_ssize_t>(stretch.plan->output_size());
  if (size != PyBytes_GET_SIZE(result) && _PyBytes_Resize(&result, size) < 0) return nullptr;
  return result;
}

}  // namespace vornel::lib
