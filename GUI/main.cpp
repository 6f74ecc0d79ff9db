// VELMORC: the main program.
#include "modStartup.h"

int main(int argc, char** argv) { return Main(argc, argv); }
