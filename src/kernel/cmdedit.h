// The command-line editor and the reading of standard input: what the lexer and the way out call.
#pragma once

// The next character of the current line of standard input, reading (at a terminal: editing,
// after the prompt) a new line when the current one is used up; -1 at the end of the input.
int ReadCharFromUser(const char *prompt);
// Reads characters into s until a newline (kept) or n-1 characters, and terminates s; 0 when
// the input ended before the first character.
int ReadLineFromCmdEdit(char *s, int n, const char *prompt);
// Puts back the terminal settings found before the first line was edited.
void ResetCmdEdit();
// Drops what is left of the current line.
void DiscardRestOfLine();
// Standard input that is a file or a pipe is read no further.
void DiscardRestOfFile();
