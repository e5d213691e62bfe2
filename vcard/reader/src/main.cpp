// vexa-vcard: one virtual card in one vpcd virtual reader (see program.h).
#include "vexa/vcard/reader/program.h"

int main(int argc, char** argv) { return vexa::vcard::reader::RunVirtualCardProgram(argc, argv); }
