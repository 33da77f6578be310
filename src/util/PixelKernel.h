// KAVO_PIXEL_KERNEL marks hot pixel loops: on x86-64 they are also built for AVX2 and the better
// copy is picked at load time (an ifunc). Defining KAVO_PIXEL_KERNEL as empty builds the baseline
// code only.
#pragma once

#ifndef KAVO_PIXEL_KERNEL
// Under ThreadSanitizer the ifunc resolver would run during relocation, before the sanitizer's
// runtime is up, and crash the process at start-up.
#if defined(__SANITIZE_THREAD__)
#define KAVO_PIXEL_KERNEL
#elif defined(__x86_64__) && ((defined(__clang__) && __clang_major__ >= 14) || \
                              (defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 8))
#define KAVO_PIXEL_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define KAVO_PIXEL_KERNEL
#endif
#endif
