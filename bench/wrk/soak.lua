-- The soak's mixed load: lists and orders in a fixed cycle, every answer checked.
-- wrk -t N -c N -s soak.lua URL -- OUTDIR LABEL PREFIX
-- URL is the program's path without a query (http://127.0.0.1:PORT/dorvana).
dofile(debug.getinfo(1, "S").source:match("@(.*/)") .. "common.lua")

local lists = {
  food = { "?q=getsprfood&user=5001&device=HALL-1", "</foods>" },
  group = { "?q=getsprfoodgroup&user=5001&device=HALL-1", "</foodgroups>" },
  stewards = { "?q=getsprstewards", "</stewards>" },
}
local cycle = { "food", "order", "group", "stewards", "order", "food", "order", "group", "order", "stewards" }
local step = 0

function init(args)
  open_results(args)
  prefix = args[3] or "soak"
end

function request()
  step = step % #cycle + 1
  kind = cycle[step]
  if kind == "order" then
    return order_request(prefix, wrk.path .. "?q=addorder")
  end
  return wrk.format("GET", wrk.path .. lists[kind][1])
end

function response(status, headers, body)
  if kind == "order" then
    if status == 200 and body == "ok" then
      append("ok", current_guid)
    else
      note_bad(status, "order " .. (body or ""))
    end
  elseif not list_ok(status, body, lists[kind][2]) then
    note_bad(status, kind .. " " .. (body or ""))
  end
end
