// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether this test program runs under AddressSanitizer or ThreadSanitizer:
// resident-memory figures and capped address spaces mean nothing there.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif
#else
inline constexpr bool kUnderSanitizer = false;
#endif
