#include "srv/vq_metrics.h"

#include <atomic>
#include <mutex>
#include <string_view>

namespace {

std::atomic<uint64_t> g_cancelled[2];  // by ZRM_CancelReason

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

void Head(std::string& out, const char* name, const char* type, const char* help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n# TYPE ");
  out.append(name).append(" ").append(type).append("\n");
}

// A label value: backslash, double quote and line feed escaped.
void AppendLabel(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') {
      out.append("\\n");
      continue;
    }
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
}

struct Row {
  std::string label;  // empty: no dsn label
  uint64_t idle = 0, busy = 0, waits = 0;
};

void Sample(std::string& out, const char* name, const Row& row, const char* state, uint64_t value) {
  out.append(name);
  if (!row.label.empty() || state != nullptr) {
    out.push_back('{');
    if (!row.label.empty()) {
      out.append("dsn=\"");
      AppendLabel(out, row.label);
      out.push_back('"');
      if (state != nullptr) out.push_back(',');
    }
    if (state != nullptr) out.append("state=\"").append(state).append("\"");
    out.push_back('}');
  }
  out.push_back(' ');
  out.append(std::to_string(value)).push_back('\n');
}

void CancelledText(std::string& out) {
  Head(out, "vqsrv_statements_cancelled_total", "counter",
       "Database statements stopped because nobody waited for them any more, by reason.");
  out.append("vqsrv_statements_cancelled_total{reason=\"client_gone\"} ")
      .append(std::to_string(g_cancelled[0].load(std::memory_order_relaxed)))
      .append("\nvqsrv_statements_cancelled_total{reason=\"shutdown\"} ")
      .append(std::to_string(g_cancelled[1].load(std::memory_order_relaxed)))
      .append("\n");
}

}  // namespace

void VQ_CountCancelled(ZRM_CancelReason reason) {
  g_cancelled[reason == ZRM_CancelReason::kClientGone ? 0 : 1].fetch_add(1, std::memory_order_relaxed);
}

void VQ_PoolMetricsText(const VQ_TDsnPolicy& policy, const std::vector<AdoPoolUsage>& usage, std::string& out) {
  std::vector<Row> rows;
  if (policy.NamesLimited()) {
    // One row per listed name, matched without regard to letter case as
    // the driver manager matches it; other names cannot come through the
    // service.
    for (const std::string& name : policy.Names()) {
      Row row{name};
      const std::string key = Lower(name);
      for (const AdoPoolUsage& u : usage)
        if (u.dsn == key) row = Row{name, u.idle, u.busy, u.waits};
      rows.push_back(std::move(row));
    }
  } else {
    Row total;
    for (const AdoPoolUsage& u : usage) {
      total.idle += u.idle;
      total.busy += u.busy;
      total.waits += u.waits;
    }
    rows.push_back(total);
  }
  Head(out, "vqsrv_db_pool_connections", "gauge",
       "ODBC connections kept for reuse (idle) and held by running requests (busy).");
  for (const Row& row : rows) {
    Sample(out, "vqsrv_db_pool_connections", row, "idle", row.idle);
    Sample(out, "vqsrv_db_pool_connections", row, "busy", row.busy);
  }
  Head(out, "vqsrv_db_pool_waits_total", "counter",
       "Times a request found no idle connection and waited for a new one to be opened.");
  for (const Row& row : rows) Sample(out, "vqsrv_db_pool_waits_total", row, nullptr, row.waits);
}

void VQ_RegisterMetrics() {
  static std::once_flag once;
  std::call_once(once, [] {
    ZRM_AddMetricsSource([](std::string& out) {
      CancelledText(out);
      VQ_PoolMetricsText(VQ_DsnPolicy(), AdoPoolUsageByDsn(), out);
    });
  });
}
