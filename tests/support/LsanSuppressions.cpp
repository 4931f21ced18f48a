// Linked into the tests that draw with GTK or run the web engine under AddressSanitizer.
// Fontconfig keeps its configuration until an FcFini() that GTK never calls, and
// JavaScriptCore keeps a few process-wide allocations until exit; LeakSanitizer would
// count both. Their stacks end inside those libraries, so nothing of ours is hidden.

extern "C" const char* __lsan_default_suppressions();  // NOLINT(bugprone-reserved-identifier)

extern "C" const char* __lsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
  return "leak:libfontconfig.so\nleak:libjavascriptcoregtk-6.0.so\n";
}
