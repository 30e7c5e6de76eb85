-- wrk script: POSTs one "extr" request per call.
--   wrk -t2 -c32 -d10s -s bench/extr.lua http://127.0.0.1:7400/ZIDozeve
wrk.method = "POST"
wrk.body = '{"M":"extr","P1":"abcdef","P2":2,"P3":3}'
wrk.headers["Content-Type"] = "application/json"
