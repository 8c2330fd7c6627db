// SDL keeps a per-thread error buffer for threads it did not create, and fontconfig keeps its
// configuration for the life of the process; neither is ours to free.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libSDL2\nleak:libfontconfig\n";
}
