// Whether the test program runs under AddressSanitizer (GCC's or Clang's), for the cases that
// limit the address space or the resident memory, which its shadow memory does not allow.
#pragma once

namespace rv8::testing {

constexpr bool kAddressSanitizer =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

}  // namespace rv8::testing
