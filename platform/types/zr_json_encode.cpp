// JSON writer: appends straight to the caller's string through RapidJSON's
// Writer, with an explicit stack so deep values cannot exhaust the C++ stack.
#include <cmath>
#include <vector>

#include <rapidjson/writer.h>

#include "platform/types/zr_json.h"
#include "platform/types/zr_json_write.h"
#include "platform/types/zr_utf8.h"

namespace {

// Output stream for the Writer: appends to a std::string, which the
// moving encoder switches to a new piece after each moved text.
class AppendStream {
 public:
  using Ch = char;
  explicit AppendStream(std::string& out) : out_(&out) {}
  void Put(char c) { out_->push_back(c); }
  void Append(const std::string& text) { out_->append(text); }
  void AppendString(std::string_view utf8) { ZR_JsonAppendString(utf8, *out_); }
  void Flush() {}
  void Switch(std::string& out) { out_ = &out; }

 private:
  std::string* out_;
};

using Writer = rapidjson::Writer<AppendStream, rapidjson::UTF8<>, rapidjson::UTF8<>,
                                 rapidjson::CrtAllocator, rapidjson::kWriteDefaultFlags>;

const std::string kNull = "null";

class Encoder {
 public:
  explicit Encoder(std::string& out) : stream_(out), writer_(stream_) {}
  // Moves large JSON texts into pieces of their own (see ZR_JsonEncodeMoving).
  Encoder(std::string& out, std::vector<std::string>& pieces)
      : stream_(out), writer_(stream_), pieces_(&pieces) {}

  void Run(const ZR_TAny& root) {
    Value(root);
    Drain();
  }
  void Run(const ZR_TDict& root) {
    Open(root);
    Drain();
  }
  void Run(const ZR_TArray& root) {
    Open(root);
    Drain();
  }

 private:
  // One open container: the next element to write is at index.
  struct Frame {
    const ZR_TDict* dict;
    const ZR_TArray* array;
    size_t index;
  };

  void Open(const ZR_TDict& d) {
    writer_.StartObject();
    stack_.push_back(Frame{&d, nullptr, 0});
  }
  void Open(const ZR_TArray& a) {
    writer_.StartArray();
    stack_.push_back(Frame{nullptr, &a, 0});
  }

  // The writer puts the separator (or the ':' after a key) and keeps count;
  // the text itself goes through the escaper, which copies plain runs whole
  // instead of one character at a time.
  void Text(const std::string& s, bool /*key*/) {
    writer_.RawValue("", 0, rapidjson::kStringType);
    stream_.AppendString(s);
  }

  // Writes a scalar, or opens a container to be filled by Drain.
  void Value(const ZR_TAny& v) {
    switch (v.GetKind()) {
      case ZR_TAny::Kind::Empty: writer_.Null(); break;
      case ZR_TAny::Kind::Bool: writer_.Bool(*v.AsBool()); break;
      case ZR_TAny::Kind::Int: writer_.Int64(*v.AsInt()); break;
      case ZR_TAny::Kind::Double: {
        const double d = *v.AsDouble();
        if (std::isfinite(d))
          writer_.Double(d);
        else
          writer_.Null();  // NaN and infinities have no JSON form
        break;
      }
      case ZR_TAny::Kind::String: Text(v.AsString()->Utf8(), false); break;
      case ZR_TAny::Kind::Dict: Open(*v.AsDict()); break;
      case ZR_TAny::Kind::Array: Open(*v.AsArray()); break;
      case ZR_TAny::Kind::Json: Json(v); break;
    }
  }

  // Pre-encoded text goes out as it stands, part by part. Only a value handed
  // over to ZR_JsonEncodeMoving reaches the moving branch, so taking its
  // parts away changes nothing its owner still reads.
  void Json(const ZR_TAny& v) {
    writer_.RawValue("", 0, rapidjson::kObjectType);  // the separator before it
    if (v.AsJson()->Parts().empty()) {  // a text without parts reads as null
      stream_.Append(kNull);
      return;
    }
    if (pieces_ == nullptr) {
      for (const std::string& part : v.AsJson()->Parts()) stream_.Append(part);
      return;
    }
    for (std::string& part : const_cast<ZR_TAny&>(v).AsJson()->TakeParts()) {
      if (part.size() < kZR_JsonMoveFrom) {
        stream_.Append(part);
        continue;
      }
      pieces_->push_back(std::move(part));
      stream_.Switch(pieces_->emplace_back());
    }
  }

  void Drain() {
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.dict) {
        const auto& entries = top.dict->Entries();
        if (top.index == entries.size()) {
          writer_.EndObject();
          stack_.pop_back();
          continue;
        }
        const ZR_TDict::Entry& e = entries[top.index++];
        Text(e.key.Utf8(), true);
        Value(e.value);  // may push, invalidating top
      } else {
        const auto& items = top.array->Items();
        if (top.index == items.size()) {
          writer_.EndArray();
          stack_.pop_back();
          continue;
        }
        Value(items[top.index++]);
      }
    }
  }

  AppendStream stream_;
  Writer writer_;
  std::vector<std::string>* pieces_ = nullptr;
  std::vector<Frame> stack_;
};

}  // namespace

namespace zr_json {

void Write(const ZR_TAny& value, std::string& out) { Encoder(out).Run(value); }
void Write(const ZR_TDict& value, std::string& out) { Encoder(out).Run(value); }
void Write(const ZR_TArray& value, std::string& out) { Encoder(out).Run(value); }

}  // namespace zr_json

void ZR_JsonEncode(const ZR_TAny& value, std::string& out) { zr_json::Write(value, out); }

void ZR_JsonEncodeMoving(ZR_TAny&& value, std::string& out, std::vector<std::string>& more) {
  // The stream writes into out, then only into the last piece, and is
  // pointed at the new last piece right after each growth of the vector, so
  // a reallocation never leaves it pointing at a moved string.
  more.clear();
  ZR_TAny taken(std::move(value));
  Encoder encoder(out, more);
  encoder.Run(taken);
  if (!more.empty() && more.back().empty()) more.pop_back();
}

void ZR_JsonAppendEscaped(std::string_view utf8, std::string& out) {
  std::string sanitized;
  if (!zr_utf8::IsValid(utf8)) {  // rare: replace bad bytes so the output stays JSON
    zr_utf8::AppendSanitized(sanitized, utf8);
    utf8 = sanitized;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.reserve(out.size() + utf8.size());
  size_t plain = 0;  // start of the run not yet copied
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(utf8.data() + plain, i - plain);
    plain = i + 1;
    out.push_back('\\');
    switch (c) {
      case '"': out.push_back('"'); break;
      case '\\': out.push_back('\\'); break;
      case '\b': out.push_back('b'); break;
      case '\t': out.push_back('t'); break;
      case '\n': out.push_back('n'); break;
      case '\f': out.push_back('f'); break;
      case '\r': out.push_back('r'); break;
      default:
        out.append("u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
    }
  }
  out.append(utf8.data() + plain, utf8.size() - plain);
}

void ZR_JsonAppendString(std::string_view utf8, std::string& out) {
  out.reserve(out.size() + utf8.size() + 2);
  out.push_back('"');
  ZR_JsonAppendEscaped(utf8, out);
  out.push_back('"');
}

std::string ZR_JsonEncode(const ZR_TAny& value) {
  std::string out;
  zr_json::Write(value, out);
  return out;
}
