// Sanitizer settings for this test program only. Cairo's text drawing loads fontconfig's
// configuration once per process and keeps it to the end, which LeakSanitizer reports as leaks
// of libfontconfig.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
