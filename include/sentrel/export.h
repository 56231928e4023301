// SENTREL_API marks what libsentrel.so exports: the classes and functions
// declared in these public headers. The library is compiled with hidden
// visibility, so everything else (the decoders' helpers, the backends'
// classes, the bundled third-party code) stays inside it. Inline and
// template code needs no mark: it is compiled into the program that uses it.
// docs/api.md says which parts of the ABI are kept stable.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define SENTREL_API __attribute__((visibility("default")))
#else
#define SENTREL_API
#endif
