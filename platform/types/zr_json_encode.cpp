// JSON writer: appends straight to the caller's string through RapidJSON's
// Writer, with an explicit stack so deep values cannot exhaust the C++ stack.
#include <cmath>
#include <vector>

#include <rapidjson/writer.h>

#include "platform/types/zr_json.h"
#include "platform/types/zr_json_write.h"
#include "platform/types/zr_utf8.h"

namespace {

// Output stream for the Writer: appends to a std::string.
class AppendStream {
 public:
  using Ch = char;
  explicit AppendStream(std::string& out) : out_(out) {}
  void Put(char c) { out_.push_back(c); }
  void Flush() {}

 private:
  std::string& out_;
};

using Writer = rapidjson::Writer<AppendStream, rapidjson::UTF8<>, rapidjson::UTF8<>,
                                 rapidjson::CrtAllocator, rapidjson::kWriteDefaultFlags>;

class Encoder {
 public:
  explicit Encoder(std::string& out) : stream_(out), writer_(stream_) {}

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

  void Text(const std::string& s, bool key) {
    const std::string* text = &s;
    if (!zr_utf8::IsValid(s)) {  // rare: replace bad bytes so the output stays JSON
      scratch_.clear();
      zr_utf8::AppendSanitized(scratch_, s);
      text = &scratch_;
    }
    const auto len = static_cast<rapidjson::SizeType>(text->size());
    if (key)
      writer_.Key(text->data(), len);
    else
      writer_.String(text->data(), len);
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
  std::vector<Frame> stack_;
  std::string scratch_;
};

}  // namespace

namespace zr_json {

void Write(const ZR_TAny& value, std::string& out) { Encoder(out).Run(value); }
void Write(const ZR_TDict& value, std::string& out) { Encoder(out).Run(value); }
void Write(const ZR_TArray& value, std::string& out) { Encoder(out).Run(value); }

}  // namespace zr_json

void ZR_JsonEncode(const ZR_TAny& value, std::string& out) { zr_json::Write(value, out); }

std::string ZR_JsonEncode(const ZR_TAny& value) {
  std::string out;
  zr_json::Write(value, out);
  return out;
}
