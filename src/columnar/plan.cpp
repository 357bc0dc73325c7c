#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "columnar/columnarize.h"
#include "columnar/document_transform.h"
#include "columnar/plan_state.h"
#include "columnar/row_reader.h"
#include "memory/allocation_failures.h"

namespace vornel::columnar {
namespace {

// Lengths add up with saturation: an absurd plan (rows times columns of
// null padding beyond the address space) comes out as SIZE_MAX, which no
// allocation satisfies, rather than wrapping into a small length.
size_t saturating_add(size_t a, size_t b) noexcept {
  size_t sum;
  return __builtin_add_overflow(a, b, &sum) ? SIZE_MAX : sum;
}
size_t saturating_multiply(size_t a, size_t b) noexcept {
  size_t product;
  return __builtin_mul_overflow(a, b, &product) ? SIZE_MAX : product;
}

bool is_constant(const Column& column, size_t rows) noexcept {
  return rows >= 2 && column.non_null_rows == rows && column.all_match;
}

// Decides which columns are kept, constant or dropped, writes the texts
// around the rows, and adds up the output's length.
void lay_out(PlanState& state) {
  const std::vector<Column>& columns = state.columns.columns();
  const size_t rows = state.rows.size();
  state.output_position.assign(columns.size(), PlanState::kDropped);
  state.head.append(R"({"columns":[)");
  state.tail.append(R"(],"constants":{)");
  size_t cell_bytes = 0;
  bool first_constant = true;
  for (size_t c = 0; c < columns.size(); ++c) {
    const Column& column = columns[c];
    if (column.non_null_rows == 0) continue;  // null or absent in every row
    if (is_constant(column, rows)) {
      if (!first_constant) state.tail.push_back(',');
      first_constant = false;
      json::serialize_str(column.name, state.tail);
      state.tail.push_back(':');
      state.tail.append(state.text_of(state.cells[column.reference_cell]));
      continue;
    }
    if (state.kept_columns != 0) state.head.push_back(',');
    json::serialize_str(column.name, state.head);
    state.output_position[c] = state.kept_columns++;
    const size_t nulls = saturating_multiply(rows - column.non_null_rows, 4);
    cell_bytes = saturating_add(cell_bytes, saturating_add(column.text_bytes, nulls));
  }
  state.head.append(R"(],"rows":[)");
  state.tail.append("}}");

  // Each row: brackets, a comma between cells; a comma between rows.
  const size_t per_row = 2 + (state.kept_columns == 0 ? 0 : state.kept_columns - 1);
  size_t size = saturating_add(state.head.size(), state.tail.size());
  size = saturating_add(size, saturating_multiply(rows, per_row));
  size = saturating_add(size, rows == 0 ? 0 : rows - 1);
  state.output_size = saturating_add(size, cell_bytes);
}

// Appends to a buffer of known length; a write beyond it is a fault, never
// a corruption.
class Output {
 public:
  Output(char* begin, size_t size) noexcept : at_(begin), end_(begin + size) {}

  void put(const char* bytes, size_t count) {
    if (count > static_cast<size_t>(end_ - at_)) overrun();
    copy_short(at_, bytes, count);
    at_ += count;
  }
  void put(std::string_view bytes) { put(bytes.data(), bytes.size()); }
  void put(char byte) {
    if (at_ == end_) overrun();
    *at_++ = byte;
  }
  bool full() const noexcept { return at_ == end_; }

 private:
  // Most cells are a few bytes long: two overlapping fixed-size copies (or
  // for 1 to 3 bytes, the first, middle and last byte) cover every length
  // up to 32 without a call, and stay inside the range.
  static void copy_short(char* to, const char* from, size_t count) noexcept {
    if (count >= 8 && count <= 16) {
      std::memcpy(to, from, 8);
      std::memcpy(to + count - 8, from + count - 8, 8);
    } else if (count >= 4 && count < 8) {
      std::memcpy(to, from, 4);
      std::memcpy(to + count - 4, from + count - 4, 4);
    } else if (count > 0 && count < 4) {
      to[0] = from[0];
      to[count / 2] = from[count / 2];
      to[count - 1] = from[count - 1];
    } else if (count > 16 && count <= 32) {
      std::memcpy(to, from, 16);
      std::memcpy(to + count - 16, from + count - 16, 16);
    } else {
      std::memcpy(to, from, count);
    }
  }
  [[noreturn, gnu::cold]] static void overrun() {
    throw std::logic_error("the columnar output came out longer than planned");
  }
  char* at_;
  char* const end_;
};

// Writes the rows, each cell at its column's place and every run of absent
// cells as one block of nulls. A row whose cells came in column order is
// written as it stands; the others (rows that list their keys in an order
// of their own) have their kept cells sorted by place first, so that a row
// costs its cells, never every column.
class RowWriter {
 public:
  RowWriter(const PlanState& state, Output& out) : state_(state), out_(out) {
    for (uint32_t c = 0; c < state.kept_columns; ++c) null_run_ += ",null";
  }

  void write_all() {
    size_t first = 0;
    bool first_row = true;
    for (const RowCells row : state_.rows) {
      if (!first_row) out_.put(',');
      first_row = false;
      out_.put('[');
      const size_t end = first + row.count;
      next_ = 0;
      if (row.in_column_order) {
        write_in_order(first, end);
      } else {
        write_sorted(first, end);
      }
      nulls(next_, state_.kept_columns);
      out_.put(']');
      first = end;
    }
  }

 private:
  uint32_t position_of(const Cell& cell) const noexcept {
    return cell.cleared() ? PlanState::kDropped : state_.output_position[cell.column];
  }

  // Nulls for the kept columns [from, to); no comma before the first column.
  void nulls(uint32_t from, uint32_t to) {
    if (from == to) return;
    const std::string_view run(null_run_.data(), 5 * size_t{to - from});
    out_.put(from == 0 ? run.substr(1) : run);
  }

  // A cell of the row at its place, after every cell before it.
  void put_cell(uint32_t position, const Cell& cell) {
    nulls(next_, position);
    if (position != 0) out_.put(',');
    out_.put(state_.text_of(cell));
    next_ = position + 1;
  }

  void write_in_order(size_t first, size_t end) {
    for (size_t i = first; i < end; ++i) {
      const Cell& cell = state_.cells[i];
      const uint32_t position = position_of(cell);
      if (position != PlanState::kDropped) put_cell(position, cell);
    }
  }

  void write_sorted(size_t first, size_t end) {
    placed_.clear();
    for (size_t i = first; i < end; ++i) {
      const uint32_t position = position_of(state_.cells[i]);
      if (position != PlanState::kDropped) placed_.push_back({position, &state_.cells[i]});
    }
    std::sort(placed_.begin(), placed_.end(), [](const Placed& a, const Placed& b) { return a.position < b.position; });
    for (const Placed& placed : placed_) put_cell(placed.position, *placed.cell);
  }

  const PlanState& state_;
  Output& out_;
  uint32_t next_ = 0;  // the first place of the row not yet written
  struct Placed {
    uint32_t position;
    const Cell* cell;
  };
  std::vector<Placed> placed_;
  std::string null_run_;  // ",null" once per kept column
};

}  // namespace

void PlanState::start(std::string_view text) {
  payload = text;
  cells.clear();
  rows.clear();
  columns.clear();
  rewrites.truncate(0);
  output_position.clear();
  kept_columns = 0;
  head.truncate(0);
  tail.truncate(0);
  output_size = 0;
  document_output.truncate(0);
  from_document = false;
  reader.clear();
}

size_t PlanState::retained_bytes() const noexcept {
  return cells.retained_bytes() + rows.capacity() * sizeof(RowCells) + columns.retained_bytes() +
         rewrites.capacity() + output_position.capacity() * sizeof(uint32_t) + head.capacity() + tail.capacity() +
         document_output.capacity() + reader.retained_bytes();
}

namespace {

// The states of finished plans wait in a few slots for the next plans, so
// that a call on a small payload allocates nothing of its own. A state that
// grew beyond kKeptStateBytes is freed instead: one large payload must not
// pin its memory. A megabyte holds the cells of about 50,000 members, more
// than most payloads that tools return have.
//
// The slots are shared by all threads and taken and filled with one atomic
// exchange each, so that calls running at once on several threads each find
// a state without waiting for one another. (Not a state per thread: a C++
// thread_local's destructor is registered on the thread's first use, and
// the C library ends the process when it has no memory for that; and the
// threads library's keys bind to symbols of a newer C library than the
// oldest this module runs on.) The states left in the slots when the
// process ends are the system's to reclaim.
constexpr size_t kKeptStateBytes = size_t{1} << 20;
constexpr size_t kKeptStates = 4;
std::array<std::atomic<PlanState*>, kKeptStates> kept_states{};

std::unique_ptr<PlanState> take_kept_state() noexcept {
  for (std::atomic<PlanState*>& slot : kept_states) {
    if (slot.load(std::memory_order_relaxed) == nullptr) continue;
    if (PlanState* state = slot.exchange(nullptr, std::memory_order_acquire)) return std::unique_ptr<PlanState>(state);
  }
  return nullptr;
}

void keep_for_next_plan(std::unique_ptr<PlanState> state) noexcept {
  if (state->retained_bytes() > kKeptStateBytes) return;
  for (std::atomic<PlanState*>& slot : kept_states) {
    PlanState* empty = nullptr;
    if (slot.load(std::memory_order_relaxed) == nullptr &&
        slot.compare_exchange_strong(empty, state.get(), std::memory_order_release, std::memory_order_relaxed)) {
      state.release();
      return;
    }
  }
}

std::unique_ptr<PlanState> state_for(std::string_view payload) {
  std::unique_ptr<PlanState> state = take_kept_state();
  if (memory::allocation_failures_armed()) state.reset();  // a test walks every allocation of a first call
  if (state == nullptr) state = std::make_unique<PlanState>();
  state->start(payload);
  return state;
}

}  // namespace

Plan::Plan(std::unique_ptr<PlanState> state) : state_(std::move(state)) {}
Plan::Plan(Plan&&) noexcept = default;
Plan& Plan::operator=(Plan&&) noexcept = default;
Plan::~Plan() {
  if (state_ != nullptr) keep_for_next_plan(std::move(state_));
}

size_t Plan::output_size() const noexcept { return state_->output_size; }

void Plan::write(char* out) const {
  const PlanState& state = *state_;
  if (state.from_document) {
    std::memcpy(out, state.document_output.data(), state.document_output.size());
    return;
  }
  Output output(out, state.output_size);
  output.put(state.head.view());
  RowWriter(state, output).write_all();
  output.put(state.tail.view());
  if (!output.full()) throw std::logic_error("the columnar output came out shorter than planned");
}

std::variant<Plan, std::string> plan_columnar(std::string_view payload) {
  return plan_columnar(payload, fastest_scan_path());
}

std::variant<Plan, std::string> plan_columnar(std::string_view payload, ScanPath path) {
  std::unique_ptr<PlanState> state = state_for(payload);
  if (read_rows(*state, path)) {
    lay_out(*state);
    return Plan(std::move(state));
  }
  // Refused, or beyond the row reader's limits: the document path gives the
  // message, or the output.
  state->start(payload);
  Outcome outcome = columnarize_document(payload);
  if (auto* message = std::get_if<std::string>(&outcome)) {
    keep_for_next_plan(std::move(state));
    return std::move(*message);
  }
  state->document_output = std::move(std::get<json::ByteBuffer>(outcome));
  state->output_size = state->document_output.size();
  state->from_document = true;
  return Plan(std::move(state));
}

Outcome columnarize_json(std::string_view payload) {
  auto planned = plan_columnar(payload);
  if (auto* message = std::get_if<std::string>(&planned)) return std::move(*message);
  const Plan& plan = std::get<Plan>(planned);
  json::ByteBuffer out;
  out.reserve_more(plan.output_size());
  plan.write(out.tail());
  out.commit(plan.output_size());
  return out;
}

}  // namespace vornel::columnar
