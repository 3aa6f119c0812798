#pragma once
// Tells a suite whether it runs under AddressSanitizer, whose quarantine and checks cost memory and time.
#if defined(__SANITIZE_ADDRESS__)
#define TESSARK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSARK_ASAN 1
#endif
#endif
