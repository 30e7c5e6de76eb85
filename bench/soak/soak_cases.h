// The requests of the soak run and the exact answers they must get. Good
// requests cover every command on a small SQLite table; malformed ones
// cover each way a client can get a request wrong.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace soak {

enum class Kind {
  Extr, Elem, Unknown, Open, Query, QueryDbg,                        // good
  BadJson, WrongType, MissingKey, Oversized, WrongPath,              // malformed
  kCount
};
const char* KindName(Kind kind);
bool IsMalformed(Kind kind);

struct Case {
  Kind kind;
  std::string target = "/ZIDozeve";
  std::string body;
  uint64_t declared_length = 0;  // non-zero: Content-Length sent instead of the body
  int status = 200;
  // When check_exact, the body must equal expected; otherwise the reply
  // must be a JSON error object whose error.type is expected.
  bool check_exact = true;
  std::string expected;
};

// The SQL that makes the table the database cases read.
extern const char* const kTableSql;

// One case of the given kind for the data source dsn.
Case MakeCase(Kind kind, const std::string& dsn, std::mt19937& rng, uint64_t max_body);

// JSON text of a string value.
std::string JsonString(const std::string& text);
// Characters (UTF-8 sequences) of a valid UTF-8 text.
std::u32string Decode(const std::string& utf8);
std::string Encode(const std::u32string& text);

}  // namespace soak
