// Compiled into every test program of an AddressSanitizer build. fontconfig keeps a few objects for the
// life of the process in a way the leak checker cannot follow (its configuration as it is first loaded,
// and the patterns that cairo's font faces resolve); neither grows with use. Without frame pointers in the
// library, the stacks the checker records end inside it, so the library itself is named.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
