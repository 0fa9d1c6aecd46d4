# A loop summing 1..10^7.
def sumto(n):
    s = 0
    for i in range(1, n + 1):
        s += i
    return s

print("%d" % sumto(10**7))
