// The query console: a page in the browser that sends "querydbg" and
// "query" to the service and shows the replies. Its files are built into
// the binary; the middleware serves them (ZRM_CONSOLE=0 turns them off).
//
//   /             the page          no token needed: the same bytes in every
//   /console.js   its script        installation, no data
//   /console.css  its style
//   /dsns.json    {"limited":bool,"names":[...]}: the names of VQ_DSNS, offered
//                 as suggestions; under the ZRM_TOKEN rule like every other path
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class ZRM_TServer;
class VQ_TDsnPolicy;

struct VQ_EmbeddedFile {
  const char* name;
  std::string_view content;
};

// The console's files as they were when the binary was built.
extern const VQ_EmbeddedFile kVQ_ConsoleFiles[];
extern const size_t kVQ_ConsoleFiles_count;

// The body of /dsns.json for policy.
std::string VQ_ConsoleDsnsJson(const VQ_TDsnPolicy& policy);

// Publishes the console's paths on a bound server.
void VQ_PublishConsole(ZRM_TServer& server, const VQ_TDsnPolicy& policy);
