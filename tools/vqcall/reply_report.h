// Turns the server's answer into what vqcall prints and its exit status.
#pragma once

#include <string>

#include "tools/vqcall/command_line.h"
#include "tools/vqcall/http_post.h"
#include "tools/vqcall/result_table.h"

namespace vqcall {

struct Report {
  std::string out;  // for standard output
  std::string err;  // for standard error
  int exit_code = 0;
};

// json: print the reply body unchanged instead of the readable form (the
// exit status still tells an error reply from a success). style: how the
// "querydbg" table is drawn.
Report ReportReply(Command command, bool json, const HttpResult& reply,
                   const TableStyle& style = {});

}  // namespace vqcall
