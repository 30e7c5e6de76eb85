#include "tools/vqcall/result_table.h"

#include <locale.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <wchar.h>

#include <unordered_map>

namespace vqcall {
namespace {

std::string JsonText(const rapidjson::Value& v) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
  v.Accept(w);
  return std::string(buffer.GetString(), buffer.GetSize());
}

constexpr char kHex[] = "0123456789abcdef";

// The next character of a UTF-8 text at i (advanced past it), or -1 for a
// byte that starts no well-formed character (i advanced by one).
long NextCodePoint(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int extra = -1;
  if (b0 < 0x80) extra = 0;
  else if (b0 >= 0xC2 && b0 <= 0xDF) extra = 1;
  else if (b0 >= 0xE0 && b0 <= 0xEF) extra = 2;
  else if (b0 >= 0xF0 && b0 <= 0xF4) extra = 3;
  if (extra < 0 || s.size() - i <= static_cast<size_t>(extra)) {
    ++i;
    return -1;
  }
  long cp = extra == 0 ? b0 : b0 & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr long kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return -1;
  }
  i += static_cast<size_t>(extra) + 1;
  return cp;
}

// wcwidth answers by the LC_CTYPE of the calling thread; the process's own
// locale stays "C". Null when the system has no C.UTF-8.
locale_t Utf8Locale() {
  static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return loc;
}

// The text as it is drawn: control characters become visible escapes.
std::string Visible(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto b = static_cast<unsigned char>(c);
    // C1 controls (U+0080 to U+009F, UTF-8 C2 80 to C2 9F) drive some
    // terminals just as C0 ones do.
    if (b == 0xC2 && i + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        out += "\\u00";
        out += kHex[next >> 4];
        out += kHex[next & 15];
        ++i;
        continue;
      }
    }
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (b < 0x20 || b == 0x7f) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

void Pad(std::string& line, const std::string& cell, size_t width) {
  line += cell;
  const size_t w = DisplayWidth(cell);
  if (w < width) line.append(width - w, ' ');
}

void TrimRight(std::string& line) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
}

}  // namespace

std::size_t DisplayWidth(std::string_view utf8) {
  const locale_t loc = Utf8Locale();
  const locale_t old = loc ? uselocale(loc) : static_cast<locale_t>(0);
  std::size_t n = 0;
  for (size_t i = 0; i < utf8.size();) {
    const long cp = NextCodePoint(utf8, i);
    const int w = cp < 0 || !loc ? 1 : wcwidth(static_cast<wchar_t>(cp));
    n += w < 0 ? 1 : static_cast<std::size_t>(w);
  }
  if (loc) uselocale(old);
  return n;
}

ResultTable TableFromResults(const rapidjson::Value& results) {
  if (!results.IsArray()) throw std::runtime_error("\"Results\" is not an array");
  ResultTable table;
  std::unordered_map<std::string, size_t> index;
  for (const auto& row : results.GetArray()) {
    if (!row.IsObject()) throw std::runtime_error("a row of \"Results\" is not an object");
    std::vector<std::optional<std::string>> cells(table.columns.size(), std::string());
    for (const auto& member : row.GetObject()) {
      const std::string key(member.name.GetString(), member.name.GetStringLength());
      auto [it, added] = index.emplace(key, table.columns.size());
      if (added) {
        table.columns.push_back(key);
        cells.emplace_back(std::string());
      }
      const rapidjson::Value& v = member.value;
      if (v.IsNull()) {
        cells[it->second] = std::nullopt;
      } else if (v.IsString()) {
        cells[it->second] = std::string(v.GetString(), v.GetStringLength());
      } else {
        cells[it->second] = JsonText(v);
      }
    }
    table.rows.push_back(std::move(cells));
  }
  // Rows read before a column appeared lack its cell.
  for (auto& row : table.rows) row.resize(table.columns.size(), std::string());
  return table;
}

std::string FormatTable(const ResultTable& table, const TableStyle& style) {
  const size_t ncol = table.columns.size();
  std::vector<std::string> header(ncol);
  std::vector<size_t> width(ncol);
  for (size_t c = 0; c < ncol; ++c) {
    header[c] = Visible(table.columns[c]);
    width[c] = DisplayWidth(header[c]);
  }
  const std::string null_text = Visible(style.null_text);
  const size_t null_width = DisplayWidth(null_text);
  std::vector<std::vector<std::optional<std::string>>> cells;
  cells.reserve(table.rows.size());
  for (const auto& row : table.rows) {
    std::vector<std::optional<std::string>> drawn(ncol, std::string());
    for (size_t c = 0; c < ncol && c < row.size(); ++c) {
      if (row[c]) {
        drawn[c] = Visible(*row[c]);
        width[c] = std::max(width[c], DisplayWidth(*drawn[c]));
      } else {
        drawn[c] = std::nullopt;
        width[c] = std::max(width[c], null_width);
      }
    }
    cells.push_back(std::move(drawn));
  }

  std::string out;
  auto line = [&](const std::vector<std::optional<std::string>>& values) {
    std::string text;
    for (size_t c = 0; c < ncol; ++c) {
      if (c > 0) text += " | ";
      if (values[c]) {
        Pad(text, *values[c], width[c]);
      } else if (style.dim_nulls && !null_text.empty()) {
        text += "\x1b[2m" + null_text + "\x1b[22m";
        text.append(width[c] - null_width, ' ');
      } else {
        Pad(text, null_text, width[c]);
      }
    }
    TrimRight(text);
    out += text + "\n";
  };
  if (ncol > 0) {
    line(std::vector<std::optional<std::string>>(header.begin(), header.end()));
    std::string rule;
    for (size_t c = 0; c < ncol; ++c) {
      if (c > 0) rule += "-+-";
      rule.append(width[c], '-');
    }
    out += rule + "\n";
    for (const auto& row : cells) line(row);
  }
  const size_t n = table.rows.size();
  out += "(" + std::to_string(n) + (n == 1 ? " row)\n" : " rows)\n");
  return out;
}

}  // namespace vqcall
