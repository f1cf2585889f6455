#pragma once
// Internal consistency checks. They stay on in release builds: a broken
// invariant inside the engine must stop the process, never corrupt an index.
//
// The expression text is passed explicitly (not stringified) because the
// reported text is part of the system's observable behaviour and must not
// change when the code is reformatted.

namespace simdex {
[[noreturn]] void AssertionFailed(const char* expression, const char* file, int line);
}  // namespace simdex

// Reports "Assertion failed: <text>, file <file>, line <line>" and aborts.
#define SIMDEX_ASSERT(cond, text)                                     \
  do {                                                                \
    if (!(cond)) ::simdex::AssertionFailed(text, __FILE__, __LINE__); \
  } while (0)

// Our own debug-only invariants: compiled out under NDEBUG.
#ifdef NDEBUG
#define SIMDEX_DCHECK(cond) \
  do {                      \
  } while (0)
#else
#define SIMDEX_DCHECK(cond) SIMDEX_ASSERT(cond, #cond)
#endif
