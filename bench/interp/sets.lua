-- Union and intersection of two sets of 10^4 elements, repeated 50 times.
-- A set is a table whose keys are the elements.
local function union(a, b)
  local r = {}
  for k in pairs(a) do r[k] = true end
  for k in pairs(b) do r[k] = true end
  return r
end
local function intersect(a, b)
  local r = {}
  for k in pairs(a) do if b[k] then r[k] = true end end
  return r
end
local function count(s)
  local c = 0
  for _ in pairs(s) do c = c + 1 end
  return c
end
local function settest(n, rounds)
  local A, B = {}, {}
  for k = 1, n do A[2 * k] = true; B[3 * k] = true end
  local U, I
  for _ = 1, rounds do
    U = union(A, B)
    I = intersect(A, B)
  end
  return count(U), count(I)
end
print(string.format("%d %d", settest(10^4, 50)))
