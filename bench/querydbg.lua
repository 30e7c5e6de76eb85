-- wrk script: one small "querydbg" per call (both rows of the 2-row table)
-- on the benchmark data source "vqbench", or the one BENCH_DSN names.
local dsn = os.getenv("BENCH_DSN") or "vqbench"
wrk.method = "POST"
wrk.body = '{"M":"querydbg","P1":"' .. dsn .. '","P2":"SELECT id, name, price, note FROM small"}'
wrk.headers["Content-Type"] = "application/json"
