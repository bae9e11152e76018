// A module that carries resources and nothing else; tests load it by handle and by path.
extern "C" __attribute__((visibility("default"))) int ResourceModuleMarker() { return 7; }
