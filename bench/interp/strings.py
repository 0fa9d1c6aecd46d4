# Strings built with formatting and concatenation; a line is started afresh past 200 characters.
def build(n):
    line = ""
    total = 0
    for i in range(1, n + 1):
        t = "%05d:%s" % (i, "ab") + "-"
        line = line + t
        if len(line) > 200:
            total += len(line)
            line = ""
    return total + len(line)

print("%d" % build(10**5))
