// A loadable library with no effect entry points.
extern "C" __attribute__((visibility("default"))) int NothingToSeeHere() { return 0; }
