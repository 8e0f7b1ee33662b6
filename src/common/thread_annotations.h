// Lock annotations in the style of clang's thread-safety analysis. They
// document which lock guards which state; under g++ they expand to nothing.
#pragma once

#if defined(__clang__)
#define GUARDED_BY(x) __attribute__((guarded_by(x)))
#define REQUIRES(x) __attribute__((requires_capability(x)))
#else
#define GUARDED_BY(x)
#define REQUIRES(x)
#endif
