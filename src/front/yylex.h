// The lexer: lines of the current input unit become characters, characters become tokens.
#pragma once

#include "All.h"

// Token numbers come from the grammar.
#include "grammar.hpp"

constexpr int FAKEELLIPSIS = 1331; // a pending ".." after a number, outside the character range

extern int currch;         // the logical character most recently delivered
extern int ReadingComment; // escapes are not resolved inside comments
extern int ReadingString;  // a "#" in column 1 belongs to the string being read
extern int yyeof;          // the end of the unit was met while a token was sought
extern int echo;           // echo level of lines read from files
extern char estr[MAX_NAME_LENGTH + 2];

int yylex();
int newch();
int newch2();
void closeinput();
int shouldecho();
void converthelp(char *line);
char *firstnonblank(char *s);
const char *firstnonblank(const char *s);

// The value 0.d1d2d3... x 10^n of a digit string, correctly rounded.
double string2double(const char *digits, int n);
// 10^k for -323 <= k <= 308, correctly rounded.
double Pow10(int k);
void InitPow10();
