-- wrk script: one small "querydbg" per call (both rows of the 2-row table)
-- on the benchmark data source "vqbench".
wrk.method = "POST"
wrk.body = '{"M":"querydbg","P1":"vqbench","P2":"SELECT id, name, price, note FROM small"}'
wrk.headers["Content-Type"] = "application/json"
