// Compiled into every test program of a ThreadSanitizer build. pango starts fontconfig on a thread of its
// own and waits for it through glib's locks, which an uninstrumented glib does not show to the checker;
// what fontconfig and glib then share looks unsynchronised, so both libraries are named. cairo hands its
// freed paths, states and patterns from one thread's drawing to another's through lock-free pools whose
// atomic instructions the checker does not see in an uninstrumented cairo, so cairo is named as well.
// harfbuzz keeps its languages and shaper choices in lists it extends with compare-and-swap, equally
// unseen, and pango reaches harfbuzz and fontconfig from every drawing thread, so both are named too.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libfontconfig.so\nrace:libglib-2.0.so\nrace:libcairo.so\nrace:libharfbuzz.so\n"
           "race:libpango\n";
}
