-- Counting the k-mers of the sequences of data/sample.db in a table, for k = 3 to 6.
local f = assert(io.open("data/sample.db"))
local text = f:read("a")
f:close()
local seqs = {}
for s in text:gmatch("<SEQ>(.-)</SEQ>") do seqs[#seqs + 1] = s end

local function kmers(k)
    local counts, distinct, best = {}, 0, 0
    for _, s in ipairs(seqs) do
        for j = 1, #s - k + 1 do
            local w = s:sub(j, j + k - 1)
            local c = (counts[w] or 0) + 1
            if c == 1 then distinct = distinct + 1 end
            if c > best then best = c end
            counts[w] = c
        end
    end
    print(string.format("%d %d %d", k, distinct, best))
end

for k = 3, 6 do kmers(k) end
