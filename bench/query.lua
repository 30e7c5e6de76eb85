-- wrk script: one small "query" per call (first record of the 2-row table)
-- on the benchmark data source "vqbench".
wrk.method = "POST"
wrk.body = '{"M":"query","P1":"vqbench","P2":"SELECT id, name, price, note FROM small","P3":1}'
wrk.headers["Content-Type"] = "application/json"
