-- GET of one list or of q=test; checks every answer.
-- wrk -t N -c N -s get.lua URL -- OUTDIR LABEL [CLOSING_TAG]
dofile(debug.getinfo(1, "S").source:match("@(.*/)") .. "common.lua")

function init(args)
  open_results(args)
  closing = args[3]
end

function response(status, headers, body)
  if closing and closing ~= "" then
    if not list_ok(status, body, closing) then note_bad(status, body) end
  elseif status ~= 200 then
    note_bad(status, body)
  end
end
