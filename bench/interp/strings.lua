-- Strings built with formatting and concatenation; a line is started afresh past 200 characters.
local function build(n)
  local line, total = "", 0
  for i = 1, n do
    local t = string.format("%05d:%s", i, "ab") .. "-"
    line = line .. t
    if #line > 200 then
      total = total + #line
      line = ""
    end
  end
  return total + #line
end
print(string.format("%d", build(10^5)))
