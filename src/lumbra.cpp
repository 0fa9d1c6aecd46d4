// The program's entry point.
#include "main.h"

int main(int argc, char **argv) { return lumbra_main(argc, argv); }
