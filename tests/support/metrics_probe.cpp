#include "tests/support/metrics_probe.h"

#include <sstream>

#include "tests/support/http_client.h"

namespace vqtest {

long MetricSample(const std::string& metrics_text, const std::string& sample) {
  std::istringstream lines(metrics_text);
  for (std::string line; std::getline(lines, line);)
    if (line.size() > sample.size() && line.rfind(sample, 0) == 0 && line[sample.size()] == ' ')
      return std::stol(line.substr(sample.size() + 1));
  return -1;
}

long RequestsInFlight(const std::string& address) {
  try {
    return MetricSample(Request(address, boost::beast::http::verb::get, "/metrics", "", {}, 5000).body,
                        "vqsrv_requests_in_flight");
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace vqtest
