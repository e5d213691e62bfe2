// vexa-vcard built over the stand-in card OS (fake_card_os.h), for the tests
// of the reader program and of the test bed.
#include "vexa/vcard/reader/program.h"

int main(int argc, char** argv) { return vexa::vcard::reader::RunVirtualCardProgram(argc, argv); }
