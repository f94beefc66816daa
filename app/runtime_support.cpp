// The few pieces of the C++ runtime the stub supplies itself.
//
// The library's operator new throws std::bad_alloc, and its throw helpers
// raise exceptions: either pulls in the unwinder, the exception tables and
// the demangler, tens of kilobytes the stub has no room for. The stub is
// built without exceptions, so every allocation goes to malloc and returns
// null on failure (callers use new (std::nothrow) and check), and a broken
// library invariant ends the process at once.
#include <cstdlib>
#include <new>

#include "base/failure.h"

void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) qorn::failAllocation();
    return p;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace std {
[[noreturn]] void __throw_length_error(const char*) {
    std::abort();
}
[[noreturn]] void __throw_bad_alloc() {
    qorn::failAllocation();
}
[[noreturn]] void __throw_bad_array_new_length() {
    qorn::failAllocation();
}
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) {
    std::abort();
}
[[noreturn]] void __throw_logic_error(const char*) {
    std::abort();
}
}  // namespace std

// The library's own definition of std::nothrow comes with unwind tables
// that would cost the stub a section of its own.
const std::nothrow_t std::nothrow{};

extern "C" void __cxa_pure_virtual() {
    std::abort();
}

// The start-up code that would provide atexit is not linked (see main.cpp);
// the process ends with ExitProcess and runs no exit handlers, so the static
// destructors registered here are deliberately never called.
extern "C" int __cdecl atexit(void(__cdecl*)(void)) {
    return 0;
}

// What the start-up code's __main does: run the static constructors the
// linker listed between __CTOR_LIST__ (a count or -1, then the functions)
// and a null, last first. The library's version brings unwind tables.
extern "C" void (*__CTOR_LIST__[])();
extern "C" void __main() {
    size_t count = 0;
    while (__CTOR_LIST__[count + 1]) ++count;
    while (count) __CTOR_LIST__[count--]();
}
