# Union and intersection of two sets of 10^4 elements, repeated 50 times.
def settest(n, rounds):
    A = {2 * k for k in range(1, n + 1)}
    B = {3 * k for k in range(1, n + 1)}
    for _ in range(rounds):
        U = A | B
        I = A & B
    return len(U), len(I)

print("%d %d" % settest(10**4, 50))
