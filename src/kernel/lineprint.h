// The printer: objects rendered as text in the language's own syntax.
#pragma once

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

// Prints into buf (of PRINTBUFSIZE characters), restoring the previous destination.
int PrintIntoBuffer(ALGEB x, char *buf);
