#include "tools/vqcall/request_body.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cstdint>
#include <limits>

namespace vqcall {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
                                 rapidjson::CrtAllocator, rapidjson::kWriteValidateEncodingFlag>;

// Checks the argument count of a command; usage names its arguments.
void ExpectArgs(const Invocation& inv, size_t min, size_t max, const char* usage) {
  if (inv.args.size() < min || inv.args.size() > max) {
    throw UsageError("wrong number of arguments; usage: vqcall " + inv.command_name + " " +
                     usage);
  }
}

// A whole decimal number in [lo, hi]; the message names the argument.
int64_t Number(const std::string& text, const char* name, int64_t lo, int64_t hi) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < lo || value > hi) {
    throw UsageError(std::string(name) + " must be a whole number from " + std::to_string(lo) +
                     " to " + std::to_string(hi) + " (got '" + text + "')");
  }
  return value;
}

void Text(Writer& w, const std::string& text, const char* name) {
  if (!w.String(text.data(), static_cast<rapidjson::SizeType>(text.size()))) {
    throw UsageError(std::string(name) + " is not valid UTF-8");
  }
}

void Key(Writer& w, const char* key) { w.Key(key); }

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kUInt32Max = std::numeric_limits<uint32_t>::max();

// "raw": the one argument, sent unchanged once it parses as JSON.
std::string RawBody(const Invocation& inv) {
  ExpectArgs(inv, 1, 1, "JSON");
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(inv.args[0].c_str(), inv.args[0].size());
  if (doc.HasParseError()) {
    throw UsageError(std::string("JSON is not valid: ") +
                     rapidjson::GetParseError_En(doc.GetParseError()) + " at offset " +
                     std::to_string(doc.GetErrorOffset()));
  }
  return inv.args[0];
}

void WriteOpen(Writer& w, const Invocation& inv) {
  ExpectArgs(inv, 1, 1, "DSN");
  Key(w, "P1");
  Text(w, inv.args[0], "DSN");
}

void WriteQuery(Writer& w, const Invocation& inv) {
  ExpectArgs(inv, 2, 3, "DSN SQL [RECORD]");
  const int64_t record =
      inv.args.size() > 2 ? Number(inv.args[2], "RECORD", kInt32Min, kInt32Max) : -1;
  Key(w, "P1");
  Text(w, inv.args[0], "DSN");
  Key(w, "P2");
  Text(w, inv.args[1], "SQL");
  Key(w, "P3");
  w.Int64(record);
}

void WriteQueryDbg(Writer& w, const Invocation& inv) {
  ExpectArgs(inv, 2, 2, "DSN SQL");
  Key(w, "P1");
  Text(w, inv.args[0], "DSN");
  Key(w, "P2");
  Text(w, inv.args[1], "SQL");
}

void WriteExtr(Writer& w, const Invocation& inv) {
  ExpectArgs(inv, 2, 3, "TEXT START [COUNT]");
  const int64_t start = Number(inv.args[1], "START", 0, kUInt32Max);
  Key(w, "P1");
  Text(w, inv.args[0], "TEXT");
  Key(w, "P2");
  w.Int64(start);
  // Without COUNT the key stays out: the service then takes the rest.
  if (inv.args.size() > 2) {
    const int64_t count = Number(inv.args[2], "COUNT", 0, kUInt32Max);
    Key(w, "P3");
    w.Int64(count);
  }
}

void WriteElem(Writer& w, const Invocation& inv) {
  ExpectArgs(inv, 3, 3, "TEXT SEP INDEX");
  if (inv.args[1].size() != 1) {
    throw UsageError("SEP must be exactly one byte (got " + std::to_string(inv.args[1].size()) +
                     " bytes)");
  }
  if (static_cast<unsigned char>(inv.args[1][0]) >= 0x80) {
    throw UsageError("SEP must be an ASCII character");
  }
  // The service reads the index as signed 32-bit; larger ones mean nothing.
  const int64_t index = Number(inv.args[2], "INDEX", 0, kInt32Max);
  Key(w, "P1");
  Text(w, inv.args[0], "TEXT");
  Key(w, "P2");
  Text(w, inv.args[1], "SEP");
  Key(w, "P3");
  w.Int64(index);
}

// The parameters P1... of a command other than "raw".
void WriteParameters(Writer& w, const Invocation& inv) {
  switch (inv.command) {
    case Command::kOpen:
      return WriteOpen(w, inv);
    case Command::kQuery:
      return WriteQuery(w, inv);
    case Command::kQueryDbg:
      return WriteQueryDbg(w, inv);
    case Command::kExtr:
      return WriteExtr(w, inv);
    case Command::kElem:
      return WriteElem(w, inv);
    case Command::kRaw:
      return;
  }
}

}  // namespace

std::string BuildRequestBody(const Invocation& inv) {
  if (inv.command == Command::kRaw) return RawBody(inv);
  rapidjson::StringBuffer buffer;
  Writer w(buffer);
  w.StartObject();
  Key(w, "M");
  Text(w, inv.command_name, "the command");
  WriteParameters(w, inv);
  w.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace vqcall
