#pragma once

namespace doodle::test {

// Built with AddressSanitizer or ThreadSanitizer: their allocators end the process instead of
// throwing std::bad_alloc, and they cannot run under a small address-space limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif

} // namespace doodle::test
