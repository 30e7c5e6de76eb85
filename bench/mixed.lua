-- wrk script: the memory soak; each call sends the next of a fixed mix of
-- requests, a failing query among them so error paths run too.
local bodies = {
  '{"M":"extr","P1":"abcdef","P2":2,"P3":3}',
  '{"M":"elem","P1":"a,b,c","P2":",","P3":1}',
  '{"M":"query","P1":"vqbench","P2":"SELECT id, name, price, note FROM small","P3":-1}',
  '{"M":"querydbg","P1":"vqbench","P2":"SELECT id, name, price, note FROM small"}',
  '{"M":"query","P1":"vqbench","P2":"SELECT nothing FROM nowhere","P3":1}',
  '{"M":"querydbg","P1":"vqbench","P2":"SELECT id, note FROM big WHERE id <= 50"}',
}
local n = 0
request = function()
  n = n % #bodies + 1
  return wrk.format("POST", nil, {["Content-Type"] = "application/json"}, bodies[n])
end
