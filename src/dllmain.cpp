// The shared library's entry. Process-wide state lives in function-local statics and in the
// adapters' caches, created on first use and released when the library unloads.
namespace zk {
int LibraryLinked() { return 1; }
}  // namespace zk
