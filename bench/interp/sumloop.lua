-- A loop summing 1..10^7.
local function sumto(n)
  local s = 0
  for i = 1, n do s = s + i end
  return s
end
print(string.format("%d", sumto(10^7)))
