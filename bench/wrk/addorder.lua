-- POST of a fresh ten-row order per request; the identifier of every order
-- answered "ok" goes to OUTDIR/LABEL.ok.N for the check against the database.
-- wrk -t N -c N -s addorder.lua URL -- OUTDIR LABEL PREFIX
dofile(debug.getinfo(1, "S").source:match("@(.*/)") .. "common.lua")

function init(args)
  open_results(args)
  prefix = args[3] or "wrk"
end

function request()
  return order_request(prefix)
end

function response(status, headers, body)
  if status == 200 and body == "ok" then
    append("ok", current_guid)
  else
    note_bad(status, body)
  end
end
