// Micro benchmarks of the reply paths: the "query" line built by appends and
// the JSON encoding of a "querydbg" result of n rows.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/types/zr.h"
#include "platform/types/zr_json.h"

namespace {

void BM_LineAppend(benchmark::State& state) {
  const ZR_TString cell("12345|some text|");
  for (auto _ : state) {
    ZR_TString line;
    for (int64_t i = 0; i < state.range(0); ++i) line += cell;
    benchmark::DoNotOptimize(line.c_str());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LineAppend)->Range(1 << 10, 1 << 17)->Complexity();

ZR_TAny Rows(int64_t n) {
  ZR_TArray rows(static_cast<uint32_t>(n));
  for (int64_t i = 0; i < n; ++i) {
    ZR_TDict row;
    row.Reserve(4);
    row.Add("id", ZR_TAny(ZR_TString(std::to_string(i))));
    row.Add("name", ZR_TAny(ZR_TString("name of the row")));
    row.Add("price", ZR_TAny(ZR_TString("12.5")));
    row.Add("note", ZR_TAny());
    rows[static_cast<uint32_t>(i)] = ZR_TAny(std::move(row));
  }
  ZR_TDict answer;
  answer.Add("Results", ZR_TAny(std::move(rows)));
  answer.Add("Status", ZR_TAny(true));
  return ZR_TAny(std::move(answer));
}

void BM_EncodeRows(benchmark::State& state) {
  const ZR_TAny reply = Rows(state.range(0));
  for (auto _ : state) {
    std::string out;
    ZR_JsonEncode(reply, out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_EncodeRows)->Arg(1000)->Arg(100000);

void BM_BuildRows(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Rows(state.range(0)));
}
BENCHMARK(BM_BuildRows)->Arg(1000);

}  // namespace
