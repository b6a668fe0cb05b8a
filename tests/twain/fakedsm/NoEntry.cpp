// A shared library that looks like a Source Manager on disk but lacks its entry point.
extern "C" __attribute__((visibility("default"))) int NotTheEntryPoint() { return 0; }
