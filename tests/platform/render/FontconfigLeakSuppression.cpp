// Linked into the tests that lay out or draw text. Fontconfig keeps its configuration
// for the life of the process and frees it only on an explicit FcFini(), which Pango
// never calls; LeakSanitizer would count that as a leak at exit. Everything else stays
// checked.

extern "C" const char* __lsan_default_suppressions();  // NOLINT(bugprone-reserved-identifier)

extern "C" const char* __lsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
  return "leak:libfontconfig.so\n";
}
