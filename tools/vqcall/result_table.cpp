#include "tools/vqcall/result_table.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <unordered_map>

namespace vqcall {
namespace {

std::string JsonText(const rapidjson::Value& v) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
  v.Accept(w);
  return std::string(buffer.GetString(), buffer.GetSize());
}

// The text as it is drawn: control characters become visible escapes.
std::string Visible(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (b < 0x20 || b == 0x7f) {
      static const char kHex[] = "0123456789abcdef";
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
  std::size_t n = 0;
  for (const char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
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

std::string FormatTable(const ResultTable& table) {
  const size_t ncol = table.columns.size();
  std::vector<std::string> header(ncol);
  std::vector<size_t> width(ncol);
  for (size_t c = 0; c < ncol; ++c) {
    header[c] = Visible(table.columns[c]);
    width[c] = DisplayWidth(header[c]);
  }
  std::vector<std::vector<std::string>> cells;
  cells.reserve(table.rows.size());
  for (const auto& row : table.rows) {
    std::vector<std::string> drawn(ncol);
    for (size_t c = 0; c < ncol && c < row.size(); ++c) {
      drawn[c] = row[c] ? Visible(*row[c]) : "NULL";
      width[c] = std::max(width[c], DisplayWidth(drawn[c]));
    }
    cells.push_back(std::move(drawn));
  }

  std::string out;
  auto line = [&](const std::vector<std::string>& values) {
    std::string text;
    for (size_t c = 0; c < ncol; ++c) {
      if (c > 0) text += " | ";
      Pad(text, values[c], width[c]);
    }
    TrimRight(text);
    out += text + "\n";
  };
  if (ncol > 0) {
    line(header);
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
