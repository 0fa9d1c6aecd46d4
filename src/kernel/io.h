// Input units stacked one on another, and the stack of output streams.
#pragma once

#include <cstdio>

#include "All.h"

constexpr int IBUFFLEN = 1002;
constexpr int MAX_FILES = 10;
constexpr int NOREADAHEAD = -2;
constexpr int OFSREAD = 1234;
constexpr int MAXOUTUNITS = 30;

struct read_unit {
    char *ibuff;
    char ibuff_area[IBUFFLEN];
    int ibuffl;
    int icharno;
    int type; // 0 file or terminal, 1 pipe, 2 string, OFSREAD the offset file
    int nextch2;
    FILE *r_unit;
    int yyline;
};

extern read_unit read_units[MAX_FILES];
extern int r_unit0;
extern int nextch; // the lexer's look-ahead, reset whenever a unit is pushed or popped
extern char OfsName[257];
extern FILE *OfsFile;
extern int timesclosedstdin;
extern FILE *w_unit;
extern FILE *w_unit1[MAXOUTUNITS];
extern int w_unit0;

#define Ibuff (read_units[r_unit0].ibuff)
#define Icharno (read_units[r_unit0].icharno)
#define Ibuffl (read_units[r_unit0].ibuffl)
#define Nextch2 (read_units[r_unit0].nextch2)
#define Yyline (read_units[r_unit0].yyline)
#define Type_input (read_units[r_unit0].type)
#define R_unit (read_units[r_unit0].r_unit)

void InitInput();
int Ropen(const char *name, int type);
void Rclose();
int RopenOfs(const char *name, long offset);
void RcloseOfs();
void CloseAllInput(); // back to unit 0
int Reading_tty();
int Writing_tty();
void FlushOutput();
void WriteChar(int c);
void WriteString(const char *s);

// Output redirection: name "previous", "terminal", or a file name.
void OpenOutput(const char *name, int append);
