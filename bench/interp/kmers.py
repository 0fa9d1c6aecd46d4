# Counting the k-mers of the sequences of data/sample.db in a dict, for k = 3 to 6.
import re

with open("data/sample.db") as f:
    seqs = re.findall(r"<SEQ>(.*?)</SEQ>", f.read())


def kmers(k):
    counts = {}
    distinct = 0
    best = 0
    for s in seqs:
        for j in range(len(s) - k + 1):
            w = s[j:j + k]
            c = counts.get(w, 0) + 1
            if c == 1:
                distinct += 1
            if c > best:
                best = c
            counts[w] = c
    print(k, distinct, best)


for k in range(3, 7):
    kmers(k)
