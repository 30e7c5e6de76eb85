#include "platform/ado/pool_usage.h"

#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/ado/ado.h"
#include "platform/ado/connection_pool.h"

namespace zado {
namespace {

// Names are those of odbc.ini, but a client may try any: the table stays
// bounded whatever it is sent.
constexpr size_t kMostNames = 256;

struct Table {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<UsageCounts>, std::less<>> by_dsn;
};

Table& Usage() {
  static Table* table = new Table;  // never destroyed: counted until the process ends
  return *table;
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

bool IsDsnKeyword(std::u16string_view key) {
  return key.size() == 3 && (key[0] | 0x20) == u'd' && (key[1] | 0x20) == u's' && (key[2] | 0x20) == u'n';
}

}  // namespace

std::string DsnOf(const std::u16string& connection_string) {
  std::u16string_view rest(connection_string);
  while (!rest.empty()) {
    const size_t end = rest.find(u';');
    const std::u16string_view attribute = rest.substr(0, end);
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
    const size_t eq = attribute.find(u'=');
    if (eq == std::u16string_view::npos || !IsDsnKeyword(Trim(attribute.substr(0, eq)))) continue;
    std::string name;
    for (char16_t c : Trim(attribute.substr(eq + 1))) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 0x20);
      name.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return name;
  }
  return {};
}

UsageCounts& UsageOf(const std::u16string& connection_string) {
  std::string name = DsnOf(connection_string);
  Table& table = Usage();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.by_dsn.find(name);
  if (it == table.by_dsn.end()) {
    if (table.by_dsn.size() >= kMostNames) name.clear();
    it = table.by_dsn.try_emplace(std::move(name)).first;
    if (!it->second) it->second = std::make_unique<UsageCounts>();
  }
  return *it->second;
}

}  // namespace zado

std::vector<AdoPoolUsage> AdoPoolUsageByDsn() {
  std::map<std::string, AdoPoolUsage, std::less<>> merged;
  {
    zado::Table& table = zado::Usage();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const auto& [name, counts] : table.by_dsn) {
      AdoPoolUsage& u = merged[name];
      u.dsn = name;
      const int64_t busy = counts->busy.load(std::memory_order_relaxed);
      u.busy = busy > 0 ? static_cast<uint64_t>(busy) : 0;
      u.waits = counts->waits.load(std::memory_order_relaxed);
    }
  }
  for (const auto& [key, count] : zado::ConnectionPool::Process().IdleByKey()) {
    auto it = merged.find(zado::DsnOf(key));
    if (it == merged.end()) it = merged.try_emplace("").first;  // a name folded into ""
    it->second.idle += count;
  }
  std::vector<AdoPoolUsage> out;
  out.reserve(merged.size());
  for (auto& [name, usage] : merged) out.push_back(std::move(usage));
  return out;
}
