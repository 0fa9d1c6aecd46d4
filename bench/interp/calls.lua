-- A function with three locals called 10^6 times.
local function f(x)
  local a, b, c
  a = x + 1
  b = a * 2
  c = b - x
  return c
end
local function calls(n)
  local s = 0
  for i = 1, n do s = s + f(i) end
  return s
end
print(string.format("%d", calls(10^6)))
