// Leaks that the leak checker of sanitizer builds must not blame on the
// converter: the font library that the windowing toolkit uses keeps caches
// it never frees.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
