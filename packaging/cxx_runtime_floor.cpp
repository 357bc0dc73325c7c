// Linked into the extension module only, to keep the C++ runtime it needs at
// the wheels' floor (manylinux_2_28: GCC 8's libstdc++, GLIBCXX_3.4.24).
//
// Since GCC 11, the standard library's headers make std::allocator<T>::
// allocate(n) report a count too large for any array through an out-of-line
// helper, std::__throw_bad_array_new_length, that only GCC 11's runtime
// exports (GLIBCXX_3.4.29). A std::deque that grows, an unordered container
// that adds buckets, or any allocate(n) whose n the compiler cannot bound
// references it, and the module would then refuse to load beside an older
// runtime. The module carries its own copy, which does what the runtime's
// does; the module's export list (module.map) keeps it private, so it never
// stands in for the runtime's in anything else.
#include <new>

#if defined(__GLIBCXX__) && _GLIBCXX_RELEASE >= 11
#include <bits/functexcept.h>

namespace std {
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
}  // namespace std
#endif
