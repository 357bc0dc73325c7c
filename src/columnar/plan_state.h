// What reading a payload leaves for writing it: the cells of every row, the
// columns, and the texts that had to be rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "columnar/cells.h"
#include "columnar/columns.h"
#include "columnar/reader_scratch.h"
#include "json/writer.h"

namespace vornel::columnar {

struct PlanState {
  // Empty, for the payload `text`: everything a previous plan left is
  // cleared, and its storage kept for this one.
  void start(std::string_view text);
  // Roughly what the state holds on to between plans.
  size_t retained_bytes() const noexcept;

  std::string_view payload;  // read in place; must outlive the plan
  CellStore cells;
  std::vector<RowCells> rows;
  ColumnTable columns;
  // Texts of rewritten cells. A rewritten number's text is preceded by its
  // value as 8 bytes of a double, which the constant test needs exactly.
  json::ByteBuffer rewrites;

  // The output's layout, once every row is read: each column's position
  // among the kept ones (kDropped for all-null and constant columns), the
  // text before the rows ({"columns":[...],"rows":[) and after them
  // (],"constants":{...}}), and the exact length of the whole.
  static constexpr uint32_t kDropped = UINT32_MAX;
  std::vector<uint32_t> output_position;
  uint32_t kept_columns = 0;
  json::ByteBuffer head;
  json::ByteBuffer tail;
  size_t output_size = 0;

  // When the document path made the output instead, the output itself.
  json::ByteBuffer document_output;
  bool from_document = false;

  ReaderScratch reader;

  std::string_view text_of(const Cell& cell) const noexcept {
    const uint64_t at = cell.offset & ~Cell::kRewritten;
    return cell.rewritten() ? std::string_view(rewrites.data() + at, cell.length)
                            : std::string_view(payload.data() + at, cell.length);
  }
};

}  // namespace vornel::columnar
