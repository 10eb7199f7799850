-- Shared by the benchmark's wrk scripts: the order document, per-thread result
-- files, and one summary line that bench/run reads.
--
-- Every script runs with one connection per thread (wrk -t N -c N), so within a
-- thread a response always belongs to the request made just before it.

threads = {}

function setup(thread)
  table.insert(threads, thread)
  thread:set("tid", #threads)
end

-- args: OUTDIR LABEL
function open_results(args)
  outdir = args[1] or "."
  label = args[2] or "wrk"
  bad = 0
end

-- Appends a line to OUTDIR/LABEL.KIND.THREAD. The file is opened per line: wrk
-- sizes its event loops for its sockets only, and files held open by every
-- thread would take descriptors it needs.
function append(kind, line)
  local f = assert(io.open(outdir .. "/" .. label .. "." .. kind .. "." .. tid, "a"))
  f:write(line, "\n")
  f:close()
end

-- The same document as bench/tools/order.h: ten rows for card 5001 at HALL-1.
function make_order(guid, n)
  local rows = {}
  for j = 0, 9 do
    local id = 1001 + (n * 37 + j * 191) % 2000
    if id % 100 == 50 then id = id + 1 end
    rows[#rows + 1] = string.format(
      "<f>%d<count>%d</count><weight>0</weight><isModificator>%s</isModificator></f>",
      id, j % 3 + 1, j == 3 and "yes" or "no")
  end
  return string.format(
    "<order><GUID>%s</GUID><DEVICEID>HALL-1</DEVICEID><PIN>5001</PIN><TABLE>%d</TABLE><FOODS>%s</FOODS></order>",
    guid, n % 20 + 1, table.concat(rows))
end

order_n = 0
function order_request(prefix, path)
  order_n = order_n + 1
  current_guid = prefix .. "-" .. tid .. "-" .. order_n
  return wrk.format("POST", path or wrk.path, { ["Content-Type"] = "text/xml" },
                    make_order(current_guid, order_n))
end

function note_bad(status, body)
  bad = bad + 1
  append("bad", status .. " " .. string.sub(body or "", 1, 200):gsub("[\r\n]", " "))
end

-- A list reply is a whole document: the declaration first, the closing tag last.
function list_ok(status, body, closing)
  return status == 200 and string.sub(body, 1, 5) == "<?xml" and
         string.sub(body, -#closing) == closing
end

function done(summary, latency, requests)
  local bads = 0
  for _, t in ipairs(threads) do bads = bads + (t:get("bad") or 0) end
  local e = summary.errors
  io.write(string.format(
    "RESULT rps=%.2f p50_ms=%.3f p99_ms=%.3f requests=%d bad=%d connect=%d read=%d write=%d status=%d timeout=%d max_ms=%.3f\n",
    summary.requests / (summary.duration / 1e6), latency:percentile(50) / 1000,
    latency:percentile(99) / 1000, summary.requests, bads, e.connect, e.read, e.write,
    e.status, e.timeout, latency.max / 1000))
end
