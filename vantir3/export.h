// Symbol visibility for the vantir3 shared library. The library is built with
// hidden visibility; only declarations marked VANTIR3_API are exported.
#ifndef VANTIR3_EXPORT_H_
#define VANTIR3_EXPORT_H_

#if defined(_WIN32)
#if defined(VANTIR3_BUILDING)
#define VANTIR3_API __declspec(dllexport)
#else
#define VANTIR3_API __declspec(dllimport)
#endif
#else
#define VANTIR3_API __attribute__((visibility("default")))
#endif

#endif  // VANTIR3_EXPORT_H_
