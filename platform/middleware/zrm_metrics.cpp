#include "platform/middleware/zrm_metrics.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/middleware/zrm.h"

namespace {

constexpr size_t kBuckets = std::size(kZrmDurationBounds) + 1;  // last: +Inf
constexpr unsigned kMinCode = 100, kMaxCode = 599;
constexpr unsigned kCommandSlots = kZrmMaxCommandLabels + kZrmMaxKnownCommands;

// A counter written by one thread only: a relaxed load and store, no locked
// instruction; readers may see a slightly old value, which a scrape allows.
struct Counter {
  std::atomic<uint64_t> v{0};
  void Add(uint64_t n) { v.store(v.load(std::memory_order_relaxed) + n, std::memory_order_relaxed); }
  uint64_t Get() const { return v.load(std::memory_order_relaxed); }
};

struct CommandStats {
  Counter outcome[4];  // ok, client_error, server_error, db_error
  Counter bucket[kBuckets];
  Counter sum_ns;
};

struct Shard {
  Counter received, sent;
  std::atomic<int64_t> in_flight{0};
  Counter responses[kMaxCode - kMinCode + 1];
  CommandStats commands[kCommandSlots + 1];  // [0]: "other"
};

std::mutex g_mutex;  // shards list, free shards, command names, error counts

// Set when the request running on this thread counts a database error: its
// answer is still a 200 (the error is in the reply), but it is counted as
// outcome "db_error" rather than "ok".
thread_local bool t_database_error = false;
// Never destroyed: threads may still count while the process exits, and
// the shards stay reachable for the leak checker.
std::vector<Shard*>& g_shards = *new std::vector<Shard*>;
std::vector<Shard*>& g_free = *new std::vector<Shard*>;
std::map<std::pair<std::string, uint32_t>, uint64_t> g_errors;

// The middleware's own families.
std::string MiddlewareMetricsText();

// Families added by the server (ZRM_AddMetricsSource), called one scrape at
// a time under their own lock.
std::mutex g_sources_mutex;
std::vector<std::function<void(std::string&)>>& g_sources = *new std::vector<std::function<void(std::string&)>>;

// Command names: slot i + 1 holds g_names[i]; written once, under the lock,
// before the count that publishes it. Names clients made up take at most
// kZrmMaxCommandLabels of the slots, so the declared ones always find room.
char g_names[kCommandSlots][33];
std::atomic<unsigned> g_name_count{0};
unsigned g_made_up_count = 0;  // under g_mutex
unsigned g_known_count = 0;    // under g_mutex

// A thread's shard goes back to the free list when the thread ends; the next
// thread continues its counts, so totals never drop.
struct ShardLease {
  Shard* shard = nullptr;
  ~ShardLease() {
    if (shard == nullptr) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_free.push_back(shard);
  }
};
thread_local ShardLease t_lease;

Shard& MyShard() {
  if (t_lease.shard != nullptr) return *t_lease.shard;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_free.empty()) {
    t_lease.shard = g_free.back();
    g_free.pop_back();
  } else {
    t_lease.shard = new Shard;  // kept for the life of the process
    g_shards.push_back(t_lease.shard);
  }
  return *t_lease.shard;
}

// The slot of name, made when known (a declared name) or while made-up
// names have room; 0 ("other") otherwise.
unsigned CommandSlot(std::string_view name, bool known = false) {
  if (name == "other") return 0;
  unsigned n = g_name_count.load(std::memory_order_acquire);
  for (unsigned i = 0; i < n; ++i)
    if (name == g_names[i]) return i + 1;
  std::lock_guard<std::mutex> lock(g_mutex);
  n = g_name_count.load(std::memory_order_relaxed);
  for (unsigned i = 0; i < n; ++i)
    if (name == g_names[i]) return i + 1;
  if (name.size() >= sizeof g_names[0]) return 0;
  unsigned& used = known ? g_known_count : g_made_up_count;
  if (used == (known ? kZrmMaxKnownCommands : kZrmMaxCommandLabels)) return 0;
  ++used;
  std::memcpy(g_names[n], name.data(), name.size());
  g_names[n][name.size()] = '\0';
  g_name_count.store(n + 1, std::memory_order_release);
  return n + 1;
}

// Label values escape backslash, double quote and line feed.
void AppendLabel(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    if (c == '\n') {
      out.append("\\n");
      continue;
    }
    out.push_back(c);
  }
}

void AppendNumber(std::string& out, double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  out.append(buf);
}

void Head(std::string& out, const char* name, const char* type, const char* help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n# TYPE ");
  out.append(name).append(" ").append(type).append("\n");
}

}  // namespace

std::string_view ZRM_CommandLabel(const std::string* m) {
  if (m == nullptr || m->empty() || m->size() > 32) return "other";
  for (char c : *m)
    if (c < 0x20 || c > 0x7e) return "other";
  return *m;
}

void ZRM_MetricsCommandName(const char* name) {
  if (name == nullptr) return;
  const std::string text(name);
  const std::string_view label = ZRM_CommandLabel(&text);
  if (label != "other") CommandSlot(label, true);
}

void ZRM_MetricsRequest(std::string_view command, unsigned status, double seconds) {
  CommandStats& s = MyShard().commands[CommandSlot(command)];
  s.outcome[status >= 500 ? 2 : status >= 400 ? 1 : t_database_error ? 3 : 0].Add(1);
  t_database_error = false;
  size_t b = 0;
  while (b < std::size(kZrmDurationBounds) && seconds > kZrmDurationBounds[b]) ++b;
  s.bucket[b].Add(1);
  s.sum_ns.Add(static_cast<uint64_t>(seconds * 1e9));
}

void ZRM_MetricsResponse(unsigned status) {
  if (status < kMinCode || status > kMaxCode) return;
  MyShard().responses[status - kMinCode].Add(1);
}

void ZRM_MetricsReceived(uint64_t bytes) { MyShard().received.Add(bytes); }
void ZRM_MetricsSent(uint64_t bytes) { MyShard().sent.Add(bytes); }

void ZRM_MetricsInFlight(int delta) {
  if (delta > 0) t_database_error = false;  // a request begins on this thread
  MyShard().in_flight.fetch_add(delta, std::memory_order_relaxed);
}

void ZRM_CountError(const char* kind, uint32_t code) {
  std::string k;
  for (const char* p = kind ? kind : ""; *p && k.size() < 32; ++p) {
    const char c = *p;
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    k.push_back(ok ? c : '_');
  }
  if (k.empty()) k = "other";
  if (k == "db") t_database_error = true;
  std::lock_guard<std::mutex> lock(g_mutex);
  // Bounded like the command labels: a flood of distinct codes folds into
  // the last entry instead of growing the table.
  auto it = g_errors.find({k, code});
  if (it == g_errors.end() && g_errors.size() >= 256) it = g_errors.emplace(std::make_pair(k, 0u), 0).first;
  if (it == g_errors.end()) it = g_errors.emplace(std::make_pair(k, code), 0).first;
  ++it->second;
}

void ZRM_AddMetricsSource(std::function<void(std::string& out)> text) {
  if (!text) return;
  std::lock_guard<std::mutex> lock(g_sources_mutex);
  g_sources.push_back(std::move(text));
}

std::string ZRM_MetricsText() {
  std::string out = MiddlewareMetricsText();
  std::lock_guard<std::mutex> lock(g_sources_mutex);
  for (const auto& source : g_sources) source(out);
  return out;
}

namespace {

// The name of a command slot; slot 0 is "other".
std::string_view SlotLabel(unsigned slot) {
  return slot == 0 ? std::string_view("other") : std::string_view(g_names[slot - 1]);
}

// The counts of every shard added up, for one scrape.
struct Totals {
  unsigned names = 0;  // command slots in use besides "other"
  std::vector<std::array<uint64_t, 4>> outcomes;
  std::vector<std::array<uint64_t, kBuckets>> buckets;
  std::vector<uint64_t> sums;
  std::array<uint64_t, kMaxCode - kMinCode + 1> responses{};
  uint64_t received = 0, sent = 0;
  int64_t in_flight = 0;
};

// Under g_mutex.
Totals SumShards() {
  Totals t;
  t.names = g_name_count.load(std::memory_order_acquire);
  t.outcomes.resize(t.names + 1);
  t.buckets.resize(t.names + 1);
  t.sums.resize(t.names + 1);
  for (const Shard* s : g_shards) {
    t.received += s->received.Get();
    t.sent += s->sent.Get();
    t.in_flight += s->in_flight.load(std::memory_order_relaxed);
    for (size_t i = 0; i < t.responses.size(); ++i) t.responses[i] += s->responses[i].Get();
    for (unsigned c = 0; c <= t.names; ++c) {
      for (int o = 0; o < 4; ++o) t.outcomes[c][o] += s->commands[c].outcome[o].Get();
      for (size_t b = 0; b < kBuckets; ++b) t.buckets[c][b] += s->commands[c].bucket[b].Get();
      t.sums[c] += s->commands[c].sum_ns.Get();
    }
  }
  return t;
}

void AppendRequestCounts(std::string& out, const Totals& t) {
  static const char* const kOutcome[] = {"ok", "client_error", "server_error", "db_error"};
  Head(out, "vqsrv_requests_total", "counter", "Requests run, by command and outcome.");
  for (unsigned c = 0; c <= t.names; ++c)
    for (int o = 0; o < 4; ++o) {
      if (t.outcomes[c][o] == 0) continue;
      out.append("vqsrv_requests_total{command=\"");
      AppendLabel(out, SlotLabel(c));
      out.append("\",outcome=\"").append(kOutcome[o]).append("\"} ");
      out.append(std::to_string(t.outcomes[c][o])).append("\n");
    }
}

// One command's histogram: its buckets, sum and count.
void AppendDuration(std::string& out, std::string_view label, const std::array<uint64_t, kBuckets>& buckets,
                    uint64_t sum_ns) {
  uint64_t count = 0;
  for (uint64_t n : buckets) count += n;
  if (count == 0) return;
  uint64_t running = 0;
  for (size_t b = 0; b < kBuckets; ++b) {
    running += buckets[b];
    out.append("vqsrv_request_duration_seconds_bucket{command=\"");
    AppendLabel(out, label);
    out.append("\",le=\"");
    if (b < std::size(kZrmDurationBounds))
      AppendNumber(out, kZrmDurationBounds[b]);
    else
      out.append("+Inf");
    out.append("\"} ").append(std::to_string(running)).append("\n");
  }
  out.append("vqsrv_request_duration_seconds_sum{command=\"");
  AppendLabel(out, label);
  out.append("\"} ");
  AppendNumber(out, static_cast<double>(sum_ns) / 1e9);
  out.append("\nvqsrv_request_duration_seconds_count{command=\"");
  AppendLabel(out, label);
  out.append("\"} ").append(std::to_string(count)).append("\n");
}

void AppendHttpCounts(std::string& out, const Totals& t) {
  Head(out, "vqsrv_requests_in_flight", "gauge", "Requests inside the request operation now.");
  out.append("vqsrv_requests_in_flight ").append(std::to_string(t.in_flight)).append("\n");
  Head(out, "vqsrv_http_received_bytes_total", "counter", "Bytes read from clients.");
  out.append("vqsrv_http_received_bytes_total ").append(std::to_string(t.received)).append("\n");
  Head(out, "vqsrv_http_sent_bytes_total", "counter", "Bytes written to clients.");
  out.append("vqsrv_http_sent_bytes_total ").append(std::to_string(t.sent)).append("\n");
  Head(out, "vqsrv_http_responses_total", "counter", "HTTP answers, by status code.");
  for (size_t i = 0; i < t.responses.size(); ++i)
    if (t.responses[i] != 0)
      out.append("vqsrv_http_responses_total{code=\"")
          .append(std::to_string(i + kMinCode))
          .append("\"} ")
          .append(std::to_string(t.responses[i]))
          .append("\n");
}

// Under g_mutex: database errors by HRESULT, the other kinds by kind and code.
void AppendErrorCounts(std::string& out) {
  Head(out, "vqsrv_db_errors_total", "counter", "Database errors, by HRESULT.");
  bool other_kinds = false;
  char hex[16];
  for (const auto& [key, n] : g_errors) {
    if (key.first != "db") {
      other_kinds = true;
      continue;
    }
    std::snprintf(hex, sizeof hex, "0x%08X", key.second);
    out.append("vqsrv_db_errors_total{hresult=\"").append(hex).append("\"} ");
    out.append(std::to_string(n)).append("\n");
  }
  if (!other_kinds) return;
  Head(out, "vqsrv_errors_total", "counter", "Other counted errors, by kind and code.");
  for (const auto& [key, n] : g_errors) {
    if (key.first == "db") continue;
    std::snprintf(hex, sizeof hex, "0x%08X", key.second);
    out.append("vqsrv_errors_total{kind=\"").append(key.first).append("\",code=\"");
    out.append(hex).append("\"} ").append(std::to_string(n)).append("\n");
  }
}

std::string MiddlewareMetricsText() {
  std::lock_guard<std::mutex> lock(g_mutex);
  const Totals totals = SumShards();
  std::string out;
  out.reserve(4096);
  AppendRequestCounts(out, totals);
  Head(out, "vqsrv_request_duration_seconds", "histogram",
       "Time inside the request operation, by command.");
  for (unsigned c = 0; c <= totals.names; ++c) AppendDuration(out, SlotLabel(c), totals.buckets[c], totals.sums[c]);
  AppendHttpCounts(out, totals);
  AppendErrorCounts(out);
  return out;
}

}  // namespace
