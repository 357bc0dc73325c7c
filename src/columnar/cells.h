// The cell records of a planned document: where each non-null member value
// of each row lies, as the text the output will carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vornel::columnar {

// One member value of one row. Its text is already exactly what the output
// carries: either the payload's own text, copied as it stands, or the text
// the writer gave it (a float in another form, a string with other escapes,
// a container with whitespace), kept in the plan's rewrite buffer.
struct Cell {
  static constexpr uint64_t kRewritten = uint64_t{1} << 63;

  uint64_t offset;  // in the payload, or with kRewritten in the rewrite buffer
  uint32_t length;  // 0 when a later null of the same key in the row cleared it
  uint32_t column;

  bool cleared() const noexcept { return length == 0; }
  bool rewritten() const noexcept { return (offset & kRewritten) != 0; }
};
static_assert(sizeof(Cell) == 16);

// One row: how many cells it has (they follow the previous row's in the
// store), and whether they come in column order, each column after the one
// before, so that the writer can take them as they are.
struct RowCells {
  uint32_t count;
  bool in_column_order;
};

// Cells in reading order, in fixed blocks: growing never moves a cell, and
// the peak is one block above the cells held.
class CellStore {
 public:
  // 4,096 cells, 64 KiB a block: below the allocator's threshold for
  // mapping memory afresh, so small payloads reuse memory it already holds.
  static constexpr size_t kBlockShift = 12;
  static constexpr size_t kBlockSize = size_t{1} << kBlockShift;

  size_t size() const noexcept { return size_; }
  Cell& operator[](size_t i) noexcept { return blocks_[i >> kBlockShift][i & (kBlockSize - 1)]; }
  const Cell& operator[](size_t i) const noexcept { return blocks_[i >> kBlockShift][i & (kBlockSize - 1)]; }

  // Empties the store, keeping its blocks for the next plan.
  void clear() noexcept { size_ = 0; }
  size_t retained_bytes() const noexcept { return blocks_.size() * kBlockSize * sizeof(Cell); }

  size_t push(const Cell& cell) {
    if ((size_ >> kBlockShift) == blocks_.size()) add_block();
    (*this)[size_] = cell;
    return size_++;
  }

 private:
  [[gnu::noinline]] void add_block() { blocks_.push_back(std::make_unique_for_overwrite<Cell[]>(kBlockSize)); }

  std::vector<std::unique_ptr<Cell[]>> blocks_;
  size_t size_ = 0;
};

}  // namespace vornel::columnar
