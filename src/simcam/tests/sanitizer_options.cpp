// Under the sanitizer build: full stacks for allocations, so that the one start-up allocation GLib keeps
// for the life of the process (made while the loader runs library constructors) can be told apart from
// a leak of ours.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\n"; }
#endif
