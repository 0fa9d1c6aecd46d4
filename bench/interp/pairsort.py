# A list of 10^5 [score, entry] pairs, sorted by score and then entry.
def pairs(n):
    L = [[(i * 7919) % 10007 / 10, i] for i in range(1, n + 1)]
    return sorted(L)


S = pairs(10**5)
print("%.1f %d, %.1f %d, %.1f %d" % (S[0][0], S[0][1], S[49999][0], S[49999][1], S[-1][0], S[-1][1]))
