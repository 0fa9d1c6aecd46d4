-- A list of 10^5 {score, entry} pairs, sorted by score and then entry.
local function pairs_(n)
    local L = {}
    for i = 1, n do L[i] = {(i * 7919) % 10007 / 10, i} end
    table.sort(L, function(a, b) return a[1] < b[1] or (a[1] == b[1] and a[2] < b[2]) end)
    return L
end

local S = pairs_(10^5)
print(string.format("%.1f %d, %.1f %d, %.1f %d", S[1][1], S[1][2], S[50000][1], S[50000][2],
                    S[#S][1], S[#S][2]))
