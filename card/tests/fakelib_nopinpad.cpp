// A library that loads but lacks the PIN-pad function.
extern "C" __attribute__((visibility("default"))) int FakeNothingHere() { return 0; }
