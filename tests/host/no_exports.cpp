// A loadable library that is not an effect module: it has neither entry point.
#ifdef _WIN32
extern "C" __declspec(dllexport) int NotAnEffect() { return 1; }
#else
extern "C" __attribute__((visibility("default"))) int NotAnEffect() { return 1; }
#endif
