-- A list of 10^5 numbers built with append, then sorted.
local function buildsort(n)
  local L = {}
  for i = 1, n do L[#L + 1] = i * 7919 % 100003 end
  table.sort(L)
  return L
end
local S = buildsort(10^5)
print(string.format("%d %d %d %d", #S, S[1], S[50000], S[#S]))
