// Fuzzes the JSON request decoder and the server's request operation on the
// text commands ("extr", "elem") and on unknown commands. The first input
// byte picks the command; the rest is the request body. Database commands
// are never reached: a body that names one gets another name.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/types/zr.h"
#include "platform/types/zr_json.h"
#include "srv/vq_server.h"

namespace {

VQ_TServer* g_server = nullptr;

bool IsDatabaseCommand(const ZR_TAny* name) {
  if (name == nullptr || name->AsString() == nullptr) return false;
  const ZR_TString& s = *name->AsString();
  return s == "open" || s == "query" || s == "querydbg";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A private loopback port, and trace records written (every level) but
  // thrown away, so the trace formatting runs on the fuzzed texts too.
  setenv("ZRM_LISTEN", "127.0.0.1:0", 1);
  setenv("ZRM_DEBUG", "3", 1);
  setenv("ZRM_TRACE", "/dev/null", 1);
  __ZR_INITIALIZATION_FUNCTION_vqsrv__();
  g_server = new VQ_TServer;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t pick = data[0] % 4;
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  ZR_TAny decoded;
  try {
    decoded = ZR_JsonDecode(body);
  } catch (const ZR_EException&) {
    return 0;  // not JSON: the middleware answers 400 before any command
  }
  ZR_TDict* request = decoded.AsDict();
  if (request == nullptr) return 0;  // only objects are requests

  switch (pick) {
    case 0: request->Add("M", ZR_TAny("extr")); break;
    case 1: request->Add("M", ZR_TAny("elem")); break;
    case 2: request->Add("M", ZR_TAny("no-such-command")); break;
    default:  // keep the body's own "M", whatever its type, unless it is a database command
      if (IsDatabaseCommand(request->Find("M"))) request->Add("M", ZR_TAny("x"));
      break;
  }

  ZR_TAny reply;
  try {
    g_server->HandleRequest(*request, reply);
  } catch (const ZR_EException&) {
    return 0;  // a bad parameter: answered 400
  }
  // The reply goes back as JSON; encoding must work on whatever came out.
  const std::string out = ZR_JsonEncode(reply);
  if (out.empty()) std::abort();

  // "extr" never answers more characters than the text holds.
  if (pick == 0) {
    const ZR_TString* text = request->Find("P1")->AsString();
    const ZR_TString* piece = reply.AsString();
    if (text == nullptr || piece == nullptr || piece->Length() > text->Length()) std::abort();
  }
  return 0;
}
