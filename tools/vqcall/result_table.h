// The rows of a "querydbg" reply as an aligned text table.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/document.h>

namespace vqcall {

struct ResultTable {
  // Field names in the order first met: those of the first row, then any
  // new ones of later rows.
  std::vector<std::string> columns;
  // One cell per column; nullopt is a JSON null. A row without a column's
  // key has the empty text there.
  std::vector<std::vector<std::optional<std::string>>> rows;
};

// results must be an array of objects; throws std::runtime_error otherwise.
// Values that are not strings are shown as their JSON text.
ResultTable TableFromResults(const rapidjson::Value& results);

// How a table is drawn.
struct TableStyle {
  std::string null_text = "NULL";  // what a database null reads (--null)
  // Draw nulls dimmed (SGR 2), so they stand apart from a text that reads
  // the same; for a terminal only.
  bool dim_nulls = false;
};

// Header, rule, one line per row, then "(N rows)" ("(1 row)"). Columns are
// separated by " | " and padded to the widest cell by display width (wide
// East Asian characters and emoji take two columns, combining marks none);
// nulls read style.null_text; control characters are shown escaped (\n, \t,
// \r, \xNN, \u0080 to \u009f) so that a value can neither break the layout
// nor drive the terminal.
std::string FormatTable(const ResultTable& table, const TableStyle& style = {});

// Terminal columns a UTF-8 text takes (wcwidth of each character; a
// character it calls unprintable, or a byte that is no UTF-8, counts one).
std::size_t DisplayWidth(std::string_view utf8);

}  // namespace vqcall
