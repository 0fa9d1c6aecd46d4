# A list of 10^5 numbers built with append, then sorted.
def buildsort(n):
    L = []
    for i in range(1, n + 1):
        L.append(i * 7919 % 100003)
    L.sort()
    return L

S = buildsort(10**5)
print("%d %d %d %d" % (len(S), S[0], S[49999], S[-1]))
