// Sequence databases: the Pat order against a brute-force suffix sort, the 64-bit layout, and
// damaged index and database files.
#include <algorithm>
#include <fstream>
#include <random>
#include <iterator>

#include "LoadFile.h"
#include "SetOption.h"
#include "testkit.h"

using namespace testkit;

namespace {

// Suffixes by unsigned character code, the end of the text below every character.
std::vector<UWORD> BruteForce(const std::string &t, std::vector<UWORD> pos) {
    std::sort(pos.begin(), pos.end(), [&](UWORD a, UWORD b) {
        return std::lexicographical_compare(
            t.begin() + a, t.end(), t.begin() + b, t.end(),
            [](char x, char y) { return (unsigned char)x < (unsigned char)y; });
    });
    return pos;
}

TEST(PatOrder, EverySortingPathGivesTheSuffixOrder) {
    std::mt19937 rng(7);
    const std::string alphabets[] = {"A", "AC", "ACGT", "ARNDCQEGHILKMFPSTWYV<>/E",
                                     std::string("A\0\xff\x80z", 5)};
    for (int round = 0; round < 1000; round++) {
        const std::string &abc = alphabets[round % 5];
        size_t n = 1 + rng() % 300;
        std::string t;
        if (round % 3 == 0) { // a short motif repeated, with rare changes
            std::string motif;
            for (size_t k = 1 + rng() % 7; k > 0; k--)
                motif += abc[rng() % abc.size()];
            while (t.size() < n)
                t += motif;
            t.resize(n);
            if (rng() % 2) t[rng() % n] = abc[rng() % abc.size()];
        } else {
            for (size_t i = 0; i < n; i++)
                t += abc[rng() % abc.size()];
        }
        std::vector<UWORD> pos;
        std::vector<uint64_t> keep(n / 64 + 1, 0);
        for (UWORD p = 0; p < n; p++)
            if (round % 2 == 0 || rng() % 3 != 0) {
                pos.push_back(p);
                keep[p >> 6] |= (uint64_t)1 << (p & 63);
            }
        // Both sorts, with 32-bit and with 64-bit positions.
        std::vector<UINT> p32(pos.begin(), pos.end()), s32(pos.size());
        std::vector<UWORD> p64 = pos, s64(pos.size());
        PatSortMultikey(t.data(), n, p32.data(), p32.size());
        PatSortMultikey(t.data(), n, p64.data(), p64.size());
        ASSERT_TRUE(PatSortSuffixArray(t.data(), n, keep.data(), s32.data(), s32.size()));
        ASSERT_TRUE(PatSortSuffixArray(t.data(), n, keep.data(), s64.data(), s64.size()));
        for (const std::vector<UWORD> &got : {std::vector<UWORD>(p32.begin(), p32.end()), p64,
                                              std::vector<UWORD>(s32.begin(), s32.end()), s64})
            ASSERT_EQ(got, BruteForce(t, pos)) << "text " << t;
    }
}

std::string Slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// A database of a few entries with its .map and .tree, and what a good load gives.
class DbFiles : public QuietKernelTest {
  protected:
    TempDir dir;
    std::string db = dir.Path("x.db"), good, goodmap, goodtree;
    std::vector<UWORD> entries, pat;
    UWORD savedmapsize = mapsize;
    UWORD savedwide = DbWideFrom;

    void SetUp() override {
        mapsize = 100;
        for (int e = 0; e < 12; e++)
            good += "<E><ID>E" + std::to_string(e) + "</ID><DE>entry</DE><SEQ>" +
                    std::string("MKVLWACDEFGHIKLMNPQRSTVWY").substr(e, 9 + e) + "</SEQ></E>\n";
        dir.Write("x.db", good);
        Load();
        goodmap = Slurp(db + ".map");
        goodtree = Slurp(db + ".tree");
        database *df = CurrentDb();
        for (UWORD k = 0; k <= df->TotEntries; k++)
            entries.push_back(DB_GetEntryOffset(df, k));
        for (UWORD i = 0; i < df->TotAA; i++)
            pat.push_back(DB_GetPat(df, i));
    }
    void TearDown() override {
        ININDB[1] = 0;
        mapsize = savedmapsize;
        DbWideFrom = savedwide;
        Collect();
    }
    void Load() {
        UnitCapture quiet;
        ININDB[1] = 0;
        ReadDb(db.c_str());
    }
    void Write(const char *suffix, const std::string &s) {
        dir.Write(std::string("x.db") + suffix, s);
    }
    // The files as they were, the indexes written after the database.
    void Restore() {
        Write("", good);
        Write(".map", goodmap);
        Write(".tree", goodtree);
    }
    void ExpectSameAnswers() {
        database *df = CurrentDb();
        ASSERT_NE(df, nullptr);
        ASSERT_EQ(df->TotEntries + 1, entries.size());
        for (UWORD k = 0; k <= df->TotEntries; k++)
            EXPECT_EQ(DB_GetEntryOffset(df, k), entries[k]);
        ASSERT_EQ(df->TotAA, pat.size());
        for (UWORD i = 0; i < df->TotAA; i++)
            EXPECT_EQ(DB_GetPat(df, i), pat[i]);
    }
};

std::string Swapped32(std::string s) {
    for (size_t i = 0; i + 4 <= s.size(); i += 4)
        std::reverse(s.begin() + i, s.begin() + i + 4);
    return s;
}

std::string SetWord32(std::string s, size_t k, UINT v) {
    s.replace(4 * k, 4, (const char *)&v, 4);
    return s;
}

TEST_F(DbFiles, IndexesInTheOtherByteOrderGiveTheSameAnswers) {
    Restore();
    Write(".map", Swapped32(goodmap));
    Write(".tree", Swapped32(goodtree));
    Load();
    EXPECT_EQ(CurrentDb()->PatSwap, 1);
    ExpectSameAnswers();
}

TEST_F(DbFiles, DamagedFilesAreRefusedWithAMessage) {
    std::string garbage(goodtree.size(), '\0');
    std::mt19937 rng(3);
    for (char &c : garbage)
        c = (char)rng();
    const UWORD last = entries.size() - 2;
    std::string swappedoffsets =
        SetWord32(SetWord32(goodmap, 4, (UINT)entries[2]), 5, (UINT)entries[1]);
    std::string swappedpat = SetWord32(SetWord32(goodtree, 0, (UINT)pat[1]), 1, (UINT)pat[0]);
    struct Case {
        const char *what, *suffix;
        std::string content, message;
    } cases[] = {
        {"map cut inside a word", ".map", goodmap.substr(0, goodmap.size() - 2),
         "Invalid .map file"},
        {"map cut to its header", ".map", goodmap.substr(0, 12), "Invalid .map file"},
        {"map without its last entry", ".map", goodmap.substr(0, goodmap.size() - 4),
         "Invalid .map file"},
        {"map offset out of range", ".map", SetWord32(goodmap, 3 + last, 1u << 30),
         "Invalid .map file"},
        {"map offset off an entry", ".map", SetWord32(goodmap, 4, (UINT)entries[1] + 1),
         "Invalid .map file"},
        {"map offsets swapped", ".map", swappedoffsets, "Invalid .map file"},
        {"map with too many residues", ".map", SetWord32(goodmap, 2, (UINT)pat.size() + 1),
         "existing index does not match file size"},
        {"tree offset out of range", ".tree", SetWord32(goodtree, pat.size() - 1, 1u << 30),
         "index file is corrupt"},
        {"tree entries swapped", ".tree", swappedpat, "index file is corrupt"},
        {"tree of garbage", ".tree", garbage, "index file is corrupt"},
    };
    for (const Case &c : cases) {
        Restore();
        Write(c.suffix, c.content);
        EXPECT_EQ(ErrorOf([&] { Load(); }), c.message) << c.what;
    }
    // A missing index is built again from the text.
    Restore();
    std::string t = db + ".tree";
    unlink(t.c_str());
    Load();
    ExpectSameAnswers();
}

TEST_F(DbFiles, TheWideLayoutGivesTheSameAnswers) {
    DbWideFrom = 0;
    for (const char *s : {".map", ".tree"})
        unlink((db + s).c_str());
    Load();
    EXPECT_TRUE(DB_is64(CurrentDb()));
    ExpectSameAnswers();
    // Its files are read back, and told apart from the narrow ones.
    std::string widemap = Slurp(db + ".map"), widetree = Slurp(db + ".tree");
    EXPECT_EQ(widetree.size(), 8 + 8 * pat.size());
    DbWideFrom = savedwide;
    Load();
    EXPECT_TRUE(DB_is64(CurrentDb()));
    ExpectSameAnswers();
    // A wide index in the other byte order is not read.
    std::string swapped = widetree;
    for (size_t i = 0; i + 8 <= swapped.size(); i += 8)
        std::reverse(swapped.begin() + i, swapped.begin() + i + 8);
    Write(".tree", swapped);
    EXPECT_EQ(ErrorOf([&] { Load(); }), "Fixme swap64");
    // Nor a narrow index next to a wide entry index.
    Write(".tree", goodtree);
    EXPECT_EQ(ErrorOf([&] { Load(); }), "existing index does not match file size");
}

} // namespace
