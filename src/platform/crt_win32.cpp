// The DLL's C runtime is the system's msvcrt.dll. libspng refers to pow, for
// a gamma correction the loader never asks for; mingw-w64's own pow would
// bring its printf and number-formatting code (about 25 KB, and a dozen more
// imports) into the DLL, so the reference goes to msvcrt.dll's pow instead.
#if defined(_WIN32)
extern "C" {
// The import-table slot of msvcrt.dll's pow; x86 names carry a leading
// underscore, x64 names do not.
#if defined(_WIN64)
extern double (*__imp_pow)(double, double);
double pow(double x, double y) { return __imp_pow(x, y); }
#else
extern double (*_imp__pow)(double, double);
double pow(double x, double y) { return _imp__pow(x, y); }
#endif
}
#endif
