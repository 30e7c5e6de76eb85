#include "soak_cases.h"

#include <array>
#include <vector>

namespace soak {

const char* const kTableSql =
    "CREATE TABLE soak (id INTEGER PRIMARY KEY, name TEXT);\n"
    "INSERT INTO soak VALUES (1, 'alpha'), (2, 'beta'), (3, 'gamma'), (4, 'delta'), (5, 'eps');\n";

namespace {

constexpr std::array<const char*, 5> kNames = {"alpha", "beta", "gamma", "delta", "eps"};

// Texts for extr and elem: plain, multibyte, separators at the edges.
const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = {
      "abcdef", "a,b,c", ",lead,,trail,", "gr\xc3\xbc\xc3\x9f,\xe2\x82\xac,\xf0\x9f\x98\x80", "", "x"};
  return texts;
}

std::string Extr(const std::string& text, uint32_t start, uint32_t count) {
  const std::u32string chars = Decode(text);
  if (start >= chars.size()) return "";
  return Encode(chars.substr(start, count));
}

std::string Elem(const std::string& text, char sep, uint32_t index) {
  size_t from = 0;
  for (uint32_t i = 0; i < index; ++i) {
    const size_t at = text.find(sep, from);
    if (at == std::string::npos) return "";
    from = at + 1;
  }
  const size_t end = text.find(sep, from);
  return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

}  // namespace

const char* KindName(Kind kind) {
  static constexpr std::array<const char*, static_cast<size_t>(Kind::kCount)> names = {
      "extr", "elem", "unknown", "open", "query", "querydbg",
      "bad-json", "wrong-type", "missing-key", "oversized", "wrong-path"};
  return names[static_cast<size_t>(kind)];
}

bool IsMalformed(Kind kind) { return kind >= Kind::BadJson; }

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::u32string Decode(const std::string& utf8) {
  std::u32string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k < n && i + k < utf8.size(); ++k) c = (c << 6) | (utf8[i + k] & 0x3F);
    out += c;
    i += n;
  }
  return out;
}

std::string Encode(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Case MakeCase(Kind kind, const std::string& dsn, std::mt19937& rng, uint64_t max_body) {
  Case c;
  c.kind = kind;
  const std::string& text = Texts()[rng() % Texts().size()];
  switch (kind) {
    case Kind::Extr: {
      const uint32_t start = rng() % 8;
      if (rng() % 2 == 0) {
        c.body = "{\"M\":\"extr\",\"P1\":" + JsonString(text) + ",\"P2\":" + std::to_string(start) + "}";
        c.expected = JsonString(Extr(text, start, 0xFFFFFFFFu));
      } else {
        const uint32_t count = rng() % 6;
        c.body = "{\"M\":\"extr\",\"P1\":" + JsonString(text) + ",\"P2\":" + std::to_string(start) +
                 ",\"P3\":" + std::to_string(count) + "}";
        c.expected = JsonString(Extr(text, start, count));
      }
      break;
    }
    case Kind::Elem: {
      const uint32_t index = rng() % 6;
      c.body = "{\"M\":\"elem\",\"P1\":" + JsonString(text) + ",\"P2\":\",\",\"P3\":" +
               std::to_string(index) + "}";
      c.expected = JsonString(Elem(text, ',', index));
      break;
    }
    case Kind::Unknown:
      c.body = "{\"M\":\"nosuch" + std::to_string(rng() % 100) + "\",\"P1\":1}";
      c.expected = "null";
      break;
    case Kind::Open:
      c.body = "{\"M\":\"open\",\"P1\":" + JsonString(dsn) + "}";
      c.expected = "{\"Status\":true}";
      break;
    case Kind::Query: {
      if (rng() % 3 == 0) {
        c.body = "{\"M\":\"query\",\"P1\":" + JsonString(dsn) +
                 ",\"P2\":\"SELECT name FROM soak ORDER BY id\",\"P3\":-1}";
        c.expected = "\"alpha|beta|gamma|delta|eps\"";
      } else {
        const unsigned id = 1 + rng() % kNames.size();
        c.body = "{\"M\":\"query\",\"P1\":" + JsonString(dsn) +
                 ",\"P2\":\"SELECT id, name FROM soak WHERE id = " + std::to_string(id) + "\",\"P3\":1}";
        c.expected = "\"" + std::to_string(id) + "|" + kNames[id - 1] + "\"";
      }
      break;
    }
    case Kind::QueryDbg:
      c.body = "{\"M\":\"querydbg\",\"P1\":" + JsonString(dsn) +
               ",\"P2\":\"SELECT id, name FROM soak WHERE id <= 2 ORDER BY id\"}";
      c.expected = "{\"Results\":[{\"id\":\"1\",\"name\":\"alpha\"},{\"id\":\"2\",\"name\":\"beta\"}],"
                   "\"Status\":true}";
      break;
    case Kind::BadJson:
      c.body = rng() % 2 ? "{\"M\":\"extr\",\"P1\":" : "[\"M\",\"extr\"]";
      c.status = 400;
      c.check_exact = false;
      c.expected = "BadRequest";
      break;
    case Kind::WrongType:
      c.body = "{\"M\":\"extr\",\"P1\":5,\"P2\":0}";
      c.status = 400;
      c.check_exact = false;
      c.expected = "ZR_EException";
      break;
    case Kind::MissingKey:
      c.body = "{\"M\":\"elem\",\"P1\":\"a,b\"}";
      c.status = 400;
      c.check_exact = false;
      c.expected = "ZR_EException";
      break;
    case Kind::Oversized:
      c.declared_length = max_body + 1 + rng() % 1000;
      c.status = 413;
      c.check_exact = false;
      c.expected = "PayloadTooLarge";
      break;
    case Kind::WrongPath:
      c.target = "/Nowhere";
      c.body = "{\"M\":\"extr\",\"P1\":\"x\",\"P2\":0}";
      c.status = 404;
      c.check_exact = false;
      c.expected = "NotFound";
      break;
    case Kind::kCount:
      break;
  }
  return c;
}

}  // namespace soak
