#include "session/writer_main.h"

int main(int argc, char** argv) { WriterMain::main(argc, argv); }
