// A stand-in library without the export the tests look for.
extern "C" __attribute__((visibility("default"))) int SomethingElse() { return 7; }
