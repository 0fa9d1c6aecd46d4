// The printer: objects rendered as text in the language's own syntax.
#pragma once

#include <exception>

#include "All.h"

constexpr int PRINTBUFSIZE = 140000; // capacity of the largest buffer printed into

extern int lline;
extern int scrnwidth;
extern int BreakLongLines;
extern char *PrintToString; // 0: print to w_unit; (char *)1: the buffer overflowed
extern int PrintToi;
extern int EscapedStrings;
extern ALGEB procprint;
extern char gstr[400];

// Precedence levels, loosest first. lineprint(x, level) puts x in parentheses when its own
// level (typelevel) is below the level of the place it is printed in.
enum : int {
    PREC_COLON = 1,
    PREC_OR = 2,
    PREC_AND = 3,
    PREC_NOT = 4,
    PREC_RELATION = 5, // =, <>, <=, <
    PREC_CATENATE = 6,
    PREC_RANGE = 7,
    PREC_SUM = 8,
    PREC_PROD = 9,
    PREC_POWER = 10,
    PREC_ATOM = 11, // numbers, calls, table references, texts and records
    PREC_NAME = 12, // names, lists, sets, locals, parameters and procedures
};

void lineprint(ALGEB x, int level);
void prinpar(ALGEB x);
void prlist(ALGEB x, const char *sep);
void prpart(const char *s);
void prpartn(const char *s, size_t n);
void mendline();
void sprintnum(double x);
void printint(WORD i);
int NeedsQuotes(const char *s);
void prquotes(const char *s);
void prstring(ALGEB t);
int prtneg(ALGEB x, int level);
int typelevel(WORD type);

// The printer writes into buf (of PRINTBUFSIZE characters) while this lives; afterwards the
// previous destination is back. An error leaving the scope keeps string output off, as userror
// set it, so that what is printed while it unwinds reaches the output file.
struct PrintIntoString {
    char *to = PrintToString;
    int i = PrintToi;
    int unwinding = std::uncaught_exceptions();
    explicit PrintIntoString(char *buf) {
        PrintToString = buf;
        PrintToi = 0;
        buf[0] = 0;
    }
    ~PrintIntoString() {
        if (std::uncaught_exceptions() > unwinding) {
            PrintToString = 0;
            return;
        }
        PrintToString = to;
        PrintToi = i;
    }
    PrintIntoString(const PrintIntoString &) = delete;
    PrintIntoString &operator=(const PrintIntoString &) = delete;
};

// Prints x into buf (of PRINTBUFSIZE characters); the number of characters printed.
int PrintIntoBuffer(ALGEB x, char *buf);
