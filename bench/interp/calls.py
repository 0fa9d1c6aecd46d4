# A function with three locals called 10^6 times.
def f(x):
    a = x + 1
    b = a * 2
    c = b - x
    return c

def calls(n):
    s = 0
    for i in range(1, n + 1):
        s += f(i)
    return s

print("%d" % calls(10**6))
