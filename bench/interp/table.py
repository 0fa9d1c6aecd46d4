# 10^5 table insertions, then 10^5 lookups of which every third misses.
def tabletest(n):
    T = {}
    for i in range(1, n + 1):
        T[3 * i] = i
    s = 0
    for i in range(1, n + 1):
        s += T.get(2 * i, 0)
    return s

print("%d" % tabletest(10**5))
