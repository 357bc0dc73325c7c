#include "lib/transform_call.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "columnar/columnarize.h"
#include "lib/messages.h"
#include "lib/test_hooks.h"

namespace vornel::lib {
namespace {

// What the transform, run without the lock, came to.
struct TransformRun {
  enum class Status : uint8_t {
    written,              // output_size bytes, into the result
    needs_larger_result,  // output_size bytes, more than the result holds: `plan` is kept to write them
    refused,              // `text` is the transform's message
    out_of_memory,
    fault,          // `text` is what the fault said
    unknown_fault,  // the fault was no std::exception and said nothing
  };
  Status status = Status::unknown_fault;
  size_t output_size = 0;
  std::optional<columnar::Plan> plan;
  std::string text;
};

// Runs `body` and turns whatever escapes it into the run's outcome. Nothing
// may leave, nor end the process: this runs without the lock, where an
// exception could not be turned into a Python one. A fault's text dies with
// the exception, so it is copied here, and a copy that fails is exhausted
// memory.
template <class Body>
void contain(TransformRun& run, Body&& body) noexcept {
  try {
    body();
  } catch (const std::bad_alloc&) {
    run.status = TransformRun::Status::out_of_memory;
  } catch (const std::exception& fault) {
    run.status = TransformRun::Status::fault;
    try {
      run.text = fault.what();
    } catch (...) {
      run.status = TransformRun::Status::out_of_memory;
    }
  } catch (...) {
    run.status = TransformRun::Status::unknown_fault;
  }
}

// The lock is released for this object's lifetime. What may run then is
// said over columnarize_bytes.
class LockReleased {
 public:
#if defined(VORNEL_TEST_KEEP_LOCK)
  // The CMake option VORNEL_TEST_KEEP_LOCK keeps the lock, to show that the
  // lock test fails without the release. (A constructor of its own, so that
  // the guard is no unused variable.)
  LockReleased() noexcept {}
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

// The exception for a run that wrote nothing: MemoryError, or RuntimeError
// with the refusal's or the fault's message.
PyObject* raise_failure(const TransformRun& run) {
  if (run.status == TransformRun::Status::out_of_memory) return PyErr_NoMemory();
  if (run.status == TransformRun::Status::refused) return raise_runtime_error(run.text);
  const std::string_view what =
      run.status == TransformRun::Status::fault ? std::string_view(run.text) : kSilentTransformFault;
  return raise_runtime_error(std::string(kTransformFaultPrefix).append(what));
}

// A new bytes object of `size` bytes for the output of a payload of
// `payload_size` bytes, or nullptr with MemoryError set.
PyObject* new_result(size_t size, size_t payload_size) {
  if (is_absurd(size, payload_size)) {
    return PyErr_Format(PyExc_MemoryError, kOutputTooLargeFormat, size, payload_size);
  }
  if (size > static_cast<size_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
  return PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
}

// Plans the document and, when it fits in `capacity` bytes, writes it at
// `out`. The plan is freed before returning, unless it is kept to be
// written into a larger result.
TransformRun plan_and_write(std::string_view payload, char* out, size_t capacity) noexcept {
  TransformRun run;
  contain(run, [&] {
    test_hooks::fault_if_requested(test_hooks::FaultSite::transform, payload);
    auto planned = columnar::plan_columnar(payload);
    if (auto* message = std::get_if<std::string>(&planned)) {
      run.status = TransformRun::Status::refused;
      run.text = std::move(*message);
      return;
    }
    columnar::Plan& plan = std::get<columnar::Plan>(planned);
    run.output_size = plan.output_size();
    if (run.output_size > capacity) {
      run.status = TransformRun::Status::needs_larger_result;
      run.plan.emplace(std::move(plan));
      return;
    }
    plan.write(out);
    run.status = TransformRun::Status::written;
  });
  return run;
}

// Writes the kept plan at `out`, then frees it.
void write_planned(TransformRun& run, char* out) noexcept {
  contain(run, [&] {
    run.plan->write(out);
    run.status = TransformRun::Status::written;
  });
  run.plan.reset();
}

}  // namespace

// What runs with the lock held does not grow with the payload: the argument
// checks, allocating the result (the writing faults its pages in, without
// the lock) and cutting it to length. Only failures add to it: a refusal's
// or a fault's message, which can be as long as the row it shows, is
// decoded into the exception and freed with the lock held (only the
// interpreter makes a str), and so is a result that a fault left partly
// written.
//
// Without the lock, the transform touches exactly:
// - the payload's bytes, read in place: a bytes object never changes, and
//   our caller holds a reference to it for the whole call;
// - the result's bytes, through a pointer taken before the release: the
//   object is ours alone until we return it, and only its bytes are written;
// - memory it allocates and frees itself (the plan with its cells, rewrites
//   and buffers, the message), and the calling thread's hash keys.
// It calls nothing of the interpreter's and changes no reference count.
// Every exception is contained (plan_and_write, write_planned), and nothing
// there allocates outside a containment, so exhausted memory becomes an
// outcome rather than the end of the process.
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
  char* out = PyBytes_AS_STRING(result);

  TransformRun run;
  {
    LockReleased released;
    run = plan_and_write(text, out, guess);
  }

  if (run.status == TransformRun::Status::needs_larger_result) {
    // The output is longer than the payload: a new result at its length.
    // The first one holds no output, so freeing it costs what allocating it
    // did.
    Py_DECREF(result);
    result = new_result(run.output_size, text.size());
    out = result == nullptr ? nullptr : PyBytes_AS_STRING(result);
    LockReleased released;
    if (out != nullptr) {
      write_planned(run, out);
    } else {
      run.plan.reset();
    }
  }
  if (result == nullptr) return nullptr;

  if (run.status != TransformRun::Status::written) {
    Py_DECREF(result);
    return raise_failure(run);
  }
  const auto size = static_cast<Py_ssize_t>(run.output_size);
  if (size != PyBytes_GET_SIZE(result) && _PyBytes_Resize(&result, size) < 0) return nullptr;
  return result;
}

}  // namespace vornel::lib
