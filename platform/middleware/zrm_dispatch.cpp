#include "platform/middleware/zrm_dispatch.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_config.h"
#include "platform/middleware/zrm_metrics.h"
#include "platform/types/zr_json.h"

namespace {

// JSON string literal of a text; bad UTF-8 bytes come out as U+FFFD.
void AppendJsonString(std::string_view text, std::string& out) {
  ZR_JsonEncode(ZR_TAny(ZR_TString(std::string(text))), out);
}

unsigned Fail(unsigned status, std::string_view type, std::string_view message,
              std::string& out) {
  out.clear();
  ZRM_ErrorBody(type, message, out);
  return status;
}

}  // namespace

std::string ZRM_Demangle(const char* mangled) {
  if (mangled == nullptr) return "unknown";
  int status = 0;
  char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  if (status != 0 || name == nullptr) return mangled;
  std::string result(name);
  std::free(name);
  return result;
}

void ZRM_ErrorBody(std::string_view type, std::string_view message, std::string& out) {
  out.append("{\"error\":{\"type\":");
  AppendJsonString(type, out);
  out.append(",\"message\":");
  AppendJsonString(message, out);
  out.append("}}");
}

unsigned ZRM_RunRequest(ZRM_TServer& server, std::string_view body, std::string& out) {
  std::string command;
  return ZRM_RunRequest(server, body, out, command);
}

unsigned ZRM_RunRequest(ZRM_TServer& server, std::string_view body, std::string& out,
                        std::string& command, std::vector<std::string>* more) {
  command.assign("other");
  if (more) more->clear();
  try {
    ZR_TAny request;
    try {
      request = ZR_JsonDecode(body);
    } catch (const ZR_EException& e) {
      return Fail(400, "BadRequest", "request body is not valid JSON: " + e.Message(), out);
    }
    const ZR_TDict* dict = request.AsDict();
    if (dict == nullptr)
      return Fail(400, "BadRequest",
                  std::string("request body must be a JSON object, not ") + request.KindName(),
                  out);
    if (const ZR_TAny* m = dict->Find("M"); m != nullptr && m->AsString() != nullptr)
      command.assign(ZRM_CommandLabel(&m->AsString()->Utf8()));
    ZR_TAny reply;
    try {
      server.HandleRequest(*dict, reply);
    } catch (const ZR_EException& e) {
      return Fail(400, "ZR_EException", e.Message(), out);
    } catch (const ZRM_EReplyTooLarge&) {
      return Fail(500, "ReplyTooLarge",
                  "the reply is larger than the limit of " + std::to_string(ZRM_MaxReply()) +
                      " bytes (ZRM_MAX_REPLY)",
                  out);
    } catch (const std::exception& e) {
      return Fail(500, ZRM_Demangle(typeid(e).name()), e.what(), out);
    } catch (...) {
      const std::type_info* t = abi::__cxa_current_exception_type();
      return Fail(500, ZRM_Demangle(t ? t->name() : nullptr), "unknown exception", out);
    }
    out.clear();
    if (more)
      ZR_JsonEncodeMoving(std::move(reply), out, *more);
    else
      ZR_JsonEncode(reply, out);
    return 200;
  } catch (const std::exception& e) {
    if (more) more->clear();
    // Decoding or encoding itself failed (memory, depth): still an answer.
    return Fail(500, ZRM_Demangle(typeid(e).name()), e.what(), out);
  } catch (...) {
    if (more) more->clear();
    return Fail(500, "unknown", "unknown exception", out);
  }
}
