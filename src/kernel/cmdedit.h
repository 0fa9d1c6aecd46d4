// Reading lines typed at the terminal.
#pragma once

// Reads one line of the current unit into s (newline kept, at most n-1 characters), showing
// the prompt first when it is not empty; 0 at the end of the input.
int ReadLineFromCmdEdit(char *s, int n, const char *prompt);
