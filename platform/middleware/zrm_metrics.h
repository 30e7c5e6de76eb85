// Process-wide counters served as GET /metrics in the Prometheus text
// format. Counting is cheap: each thread adds to a shard of its own, and
// only the rare paths (a new command name, a database error, a scrape) take
// a lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Names a client makes up get their own label while there are at most this
// many of them; later ones are counted as "other" so a client cannot grow
// the table without bound. The server's own command names (see
// ZRM_MetricsCommandName) always keep theirs, up to kZrmMaxKnownCommands.
constexpr unsigned kZrmMaxCommandLabels = 64;
constexpr unsigned kZrmMaxKnownCommands = 16;

// The label of a request's "M": the text when it is at most 32 printable
// ASCII characters, else "other".
std::string_view ZRM_CommandLabel(const std::string* m);

// One request that reached the request operation: its command label, the
// HTTP status it got and how long it took.
void ZRM_MetricsRequest(std::string_view command, unsigned status, double seconds);
// One HTTP answer written (any path).
void ZRM_MetricsResponse(unsigned status);
void ZRM_MetricsReceived(uint64_t bytes);
void ZRM_MetricsSent(uint64_t bytes);
// Requests inside the request operation right now.
void ZRM_MetricsInFlight(int delta);

// The whole exposition text, version 0.0.4.
std::string ZRM_MetricsText();

// Upper bounds of the duration histogram, in seconds.
constexpr double kZrmDurationBounds[] = {.0005, .001, .0025, .005, .01, .025, .05, .1,
                                         .25,   .5,   1,     2.5,  5,   10,  30};
