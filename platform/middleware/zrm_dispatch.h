// Runs one request body through a server's request operation and turns the
// outcome into an HTTP status and a JSON body.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class ZRM_TServer;

// Error body {"error":{"type":...,"message":...}}, appended to out.
void ZRM_ErrorBody(std::string_view type, std::string_view message, std::string& out);

// The demangled name of a type as typeid gives it ("_com_error").
std::string ZRM_Demangle(const char* mangled);

// Decodes the body, calls HandleRequest and writes the answer's body to out.
// Returns the status: 200, 400 (bad body or ZR_EException) or 500 (any
// other exception). Never throws.
unsigned ZRM_RunRequest(ZRM_TServer& server, std::string_view body, std::string& out);
// The same, and sets command to the metrics label of the request's "M"
// ("other" when the body has none usable).
// With more, large pre-encoded parts of the reply are moved, not copied:
// the body is out followed by more[0], more[1], ... (see ZR_JsonEncodeMoving).
unsigned ZRM_RunRequest(ZRM_TServer& server, std::string_view body, std::string& out,
                        std::string& command, std::vector<std::string>* more = nullptr);
