-- 10^5 table insertions, then 10^5 lookups of which every third misses.
local function tabletest(n)
  local T = {}
  for i = 1, n do T[3 * i] = i end
  local s = 0
  for i = 1, n do s = s + (T[2 * i] or 0) end
  return s
end
print(string.format("%d", tabletest(10^5)))
