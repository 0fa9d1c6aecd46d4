// Feeds arbitrary bytes to the lexer and the parser: they must report and recover, never crash
// or hang. Built for libFuzzer with LUMBRA_FUZZ, and as a plain driver over the saved corpus.
#include <cstdio>
#include <cstring>

#include "Lumbra.h"
#include "parse.h"

static void fuzzinit() {
    static bool done = false;
    if (done) return;
    done = true;
    InitObjects();
    IniEnv.jump = 1;
    optserver = 1; // shell escapes are refused
    optquiet = 1;
    w_unit = fopen("/dev/null", "w");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzinit();
    if (size > 4000) return 0;
    try {
        LumbraParse((const char *)data, (int)size);
    } catch (const Unwind &) {
    }
    CloseAllInput();
    Environment = &IniEnv;
    ENVevlstlev = 1;
    GcAfterStatement(2);
    return 0;
}

#ifndef LUMBRA_LIBFUZZER
// Runs every file named on the command line once.
int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        FILE *f = fopen(argv[i], "rb");
        if (f == 0) {
            fprintf(stderr, "cannot open %s\n", argv[i]);
            return 1;
        }
        static uint8_t buf[8192];
        size_t len = fread(buf, 1, sizeof buf, f);
        fclose(f);
        LLVMFuzzerTestOneInput(buf, len);
    }
    printf("%d inputs parsed\n", argc - 1);
    return 0;
}
#endif
