// Reading a server's /metrics page, to wait for a state instead of sleeping.
#pragma once

#include <string>

namespace vqtest {

// The value of the sample line that starts with sample (name and labels,
// e.g. "vqsrv_requests_in_flight"); -1 when there is none.
long MetricSample(const std::string& metrics_text, const std::string& sample);
// vqsrv_requests_in_flight of the server at address; -1 when it cannot be read.
long RequestsInFlight(const std::string& address);

}  // namespace vqtest
