// Password values out of connection texts before they are traced. The text
// may be one the policy refuses, so nothing about its form is assumed.
#include "srv/dsn_policy.h"

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Where the value starting at pos ends: at the next ';', or for a value in
// braces after its closing brace ("}}" stands for one '}' inside).
size_t ValueEnd(std::string_view text, size_t pos) {
  size_t p = pos;
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
  if (p < text.size() && text[p] == '{') {
    for (++p; p < text.size(); ++p) {
      if (text[p] != '}') continue;
      if (p + 1 < text.size() && text[p + 1] == '}') {
        ++p;
        continue;
      }
      const size_t semicolon = text.find(';', p);
      return semicolon == std::string_view::npos ? text.size() : semicolon;
    }
    return text.size();  // no closing brace: the rest is the value
  }
  const size_t semicolon = text.find(';', pos);
  return semicolon == std::string_view::npos ? text.size() : semicolon;
}

}  // namespace

std::string VQ_MaskPasswords(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t eq = text.find('=', pos);
    const size_t semicolon = text.find(';', pos);
    if (eq == std::string_view::npos || (semicolon != std::string_view::npos && semicolon < eq)) {
      // A piece without a value.
      const size_t end = semicolon == std::string_view::npos ? text.size() : semicolon + 1;
      out.append(text.substr(pos, end - pos));
      pos = end;
      continue;
    }
    const size_t end = ValueEnd(text, eq + 1);
    out.append(text.substr(pos, eq + 1 - pos));
    if (VQ_IsPasswordKeyword(Trimmed(text.substr(pos, eq - pos)))) {
      out.append("***");
    } else {
      out.append(text.substr(eq + 1, end - eq - 1));
    }
    if (end < text.size()) out.push_back(';');
    pos = end + 1;
  }
  return out;
}
