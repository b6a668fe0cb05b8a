// Sanitizer settings for this test program only. SANE's test backend reads the device in a
// thread of its own and leaves that thread's buffer behind when a scan is cancelled (the
// backend is unloaded by then, so the stack has no module name to suppress). This program
// starts no thread of its own, so allocations made under a thread start are libsane's; the
// full unwind on malloc lets LeakSanitizer see that frame.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:start_thread\n"; }
