// The shared library's entry. Process-wide state lives in function-local statics and in the
// adapters' caches, created on first use and released when the library unloads; the library has
// no entry code of its own.
