// Compiled into every plug-in library, which carries its own static copy of the C++
// runtime. That runtime allocates an emergency pool for exceptions (about 70 KiB, straight
// from malloc) when the library is loaded and never frees it, so each unload would leave
// the pool behind in the host's heap. The runtime's own release function frees it; the
// library calls it as it is unloaded, after which no code of the library runs.

namespace __gnu_cxx {
void __freeres() noexcept;  // libstdc++: frees the emergency exception pool
}

namespace {

struct RuntimeRelease {
  ~RuntimeRelease() { __gnu_cxx::__freeres(); }
};

// Destroyed with the library's other static objects. Freeing the pool only takes away the
// runtime's reserve for throwing when malloc fails, so the order among them does not matter.
[[maybe_unused]] RuntimeRelease g_runtimeRelease;

}  // namespace
