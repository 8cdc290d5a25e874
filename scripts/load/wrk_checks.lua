-- The checks of the load run, run by wrk: each wrk thread walks the request mix, every response
-- is sorted into a kind of page or "wrong", and the figures go to the results file.
-- make_wrk_script.py puts the constants it uses (paths, counts, marks, due, results) before it.
local kinds = {"form", "result", "list", "detail", "invalid", "error500", "refused", "wrong"}
local threads = {}
function setup(thread)
  thread:set("id", #threads + 1)
  table.insert(threads, thread)
end

function init(args)
  n = 0
  seen = {}
  for _, k in ipairs(kinds) do seen[k] = 0 end
  first_wrong = ""
end

function request()
  n = n + 1
  local p = paths[(n + id) % #paths + 1]
  if type(p) == "table" then return p.raw end  -- a whole request, sent as it is
  return wrk.format("GET", p)
end

local function ends(body, tail) return body:sub(-#tail) == tail end

local function kind(status, body)
  if status == 413 then return "refused" end  -- only the huge body's: no page answers 413
  if status == 500 then
    if body:find("Internal Server Error 500", 1, true) and body:find("EConvertError", 1, true) then
      return "error500"
    end
    return "wrong"
  end
  if status ~= 200 then return "wrong" end
  local at = body:find(count_mark, 1, true)
  if at then
    local count = tonumber(body:match("^%d+", at + #count_mark))
    if count and counts[count] and ends(body, "</H3>\r\n") then return "result" end
    return "wrong"
  end
  if body:find(detail_mark, 1, true) then
    if body:find(due, 1, true) and ends(body, "</HTML>\r\n") then return "detail" end
    return "wrong"
  end
  if body:find(invalid_mark, 1, true) then return ends(body, "</H1>") and "invalid" or "wrong" end
  if body:find(list_mark, 1, true) then return ends(body, "</H3>\r\n") and "list" or "wrong" end
  if body:find("<FORM", 1, true) or body:find("<form", 1, true) then
    return ends(body, "</HTML>\r\n") and "form" or "wrong"
  end
  return "wrong"
end

function response(status, headers, body)
  local k = kind(status, body)
  seen[k] = seen[k] + 1
  if k == "wrong" and first_wrong == "" then first_wrong = status .. " " .. body:sub(1, 300) end
end

function done(summary, latency, requests)
  local total = {}
  for _, k in ipairs(kinds) do total[k] = 0 end
  local wrong_sample = ""
  for _, t in ipairs(threads) do
    local s = t:get("seen")
    for _, k in ipairs(kinds) do total[k] = total[k] + s[k] end
    local fw = t:get("first_wrong")
    if wrong_sample == "" and fw ~= "" then wrong_sample = fw end
  end
  local f = io.open(results, "w")
  local function put(k, v) f:write(k, "=", tostring(v), "\n") end
  put("requests", summary.requests)
  put("duration_us", summary.duration)
  put("bytes", summary.bytes)
  put("socket_errors", summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.timeout)
  put("timeouts", summary.errors.timeout)
  put("non2xx3xx", summary.errors.status)
  for _, p in ipairs({50, 75, 90, 99}) do put("p" .. p .. "_us", latency:percentile(p)) end
  put("mean_us", math.floor(latency.mean))
  put("max_us", latency.max)
  for _, k in ipairs(kinds) do put(k, total[k]) end
  f:close()
  if wrong_sample ~= "" then
    local w = io.open(results .. ".wrong", "w")
    w:write(wrong_sample)
    w:close()
  end
end
