#include "tools/vqcall/reply_report.h"

#include <rapidjson/document.h>

#include "tools/vqcall/exit_codes.h"
#include "tools/vqcall/result_table.h"

namespace vqcall {
namespace {

const char kErrorPrefix[] = "Error code = ";

Report Unexpected(const HttpResult& reply, const std::string& what) {
  std::string body = reply.body.substr(0, 200);
  if (reply.body.size() > 200) body += "...";
  return {"", "vqcall: unexpected reply (" + what + "): " + body + "\n", kExitHttpError};
}

// The server's own words for an HTTP error: error.message of its JSON body,
// else the body, else the status line.
std::string HttpErrorText(const HttpResult& reply) {
  rapidjson::Document doc;
  doc.Parse(reply.body.c_str(), reply.body.size());
  if (!doc.HasParseError() && doc.IsObject()) {
    const auto error = doc.FindMember("error");
    if (error != doc.MemberEnd() && error->value.IsObject()) {
      const auto message = error->value.FindMember("message");
      if (message != error->value.MemberEnd() && message->value.IsString()) {
        return std::string(message->value.GetString(), message->value.GetStringLength());
      }
    }
  }
  if (!reply.body.empty()) return reply.body;
  return reply.reason;
}

std::string Text(const rapidjson::Value& v) { return std::string(v.GetString(), v.GetStringLength()); }

}  // namespace

Report ReportReply(Command command, bool json, const HttpResult& reply, const TableStyle& style) {
  if (reply.status != 200) {
    Report r;
    if (command == Command::kRaw || json) r.out = reply.body + "\n";
    r.err = "vqcall: HTTP " + std::to_string(reply.status) + ": " + HttpErrorText(reply) + "\n";
    r.exit_code = kExitHttpError;
    return r;
  }
  if (command == Command::kRaw) return {reply.body + "\n", "", kExitOk};

  rapidjson::Document doc;
  doc.Parse(reply.body.c_str(), reply.body.size());
  if (doc.HasParseError()) return Unexpected(reply, "not JSON");
  const std::string raw = reply.body + "\n";

  switch (command) {
    case Command::kQuery:
    case Command::kExtr:
    case Command::kElem: {
      if (!doc.IsString()) return Unexpected(reply, "not a text");
      const std::string text = Text(doc);
      if (command == Command::kQuery && text.rfind(kErrorPrefix, 0) == 0) {
        return {json ? raw : "", json ? "" : text + "\n", kExitErrorReply};
      }
      return {json ? raw : text + "\n", "", kExitOk};
    }
    case Command::kOpen: {
      if (!doc.IsObject()) return Unexpected(reply, "not an object");
      const auto status = doc.FindMember("Status");
      if (status == doc.MemberEnd() || !status->value.IsBool()) {
        return Unexpected(reply, "no \"Status\"");
      }
      const bool ok = status->value.GetBool();
      return {json ? raw : (ok ? "ok\n" : "failed\n"), "", ok ? kExitOk : kExitErrorReply};
    }
    case Command::kQueryDbg: {
      if (!doc.IsObject()) return Unexpected(reply, "not an object");
      const auto status = doc.FindMember("Status");
      if (status == doc.MemberEnd() || !status->value.IsBool()) {
        return Unexpected(reply, "no \"Status\"");
      }
      if (!status->value.GetBool()) {
        const auto errmsg = doc.FindMember("Errmsg");
        std::string message = "querydbg failed without a message";
        if (errmsg != doc.MemberEnd() && errmsg->value.IsString()) message = Text(errmsg->value);
        return {json ? raw : "", json ? "" : message + "\n", kExitErrorReply};
      }
      if (json) return {raw, "", kExitOk};
      const auto results = doc.FindMember("Results");
      if (results == doc.MemberEnd()) return Unexpected(reply, "no \"Results\"");
      try {
        return {FormatTable(TableFromResults(results->value), style), "", kExitOk};
      } catch (const std::runtime_error& e) {
        return Unexpected(reply, e.what());
      }
    }
    case Command::kRaw:
      break;
  }
  return {raw, "", kExitOk};
}

}  // namespace vqcall
