// Fontconfig keeps its configuration for the life of the process (it frees it only in an
// FcFini() that Pango never calls): not a leak for LeakSanitizer. Everything else stays checked.
extern "C" const char* __lsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
  return "leak:libfontconfig.so\n";
}
