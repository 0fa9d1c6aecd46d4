// Lines typed at the terminal, read for the lexer.
#include "cmdedit.h"

#include <cstdio>

#include "io.h"

// Plain reading for now: the editing of the line (cursor keys, history) arrives later.
int ReadLineFromCmdEdit(char *s, int n, const char *prompt) {
    if (prompt != nullptr && prompt[0] != 0) {
        fputs(prompt, stdout);
        fflush(stdout);
    }
    if (n < 2 || R_unit == nullptr) return 0;
    return fgets(s, n, R_unit) != nullptr;
}
