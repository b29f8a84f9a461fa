// Linked into the programs of the sanitizer build only. The end-to-end tests
// run the programs in a clean environment, so their sanitizer options are
// built in: stop at the first error with an exit status that no run of the
// programs has (they end with 0 or 1), so that a finding can't pass for a
// failure report.

extern "C" {

const char* __asan_default_options() { return "halt_on_error=1:detect_leaks=1:exitcode=86"; }

const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1:exitcode=86"; }

// glibc's newlocale keeps the list that it splits LOCPATH into, and the tests
// set LOCPATH for their French locale.
const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

const char* __lsan_default_options() { return "print_suppressions=0"; }

}
