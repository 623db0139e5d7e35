// Basic types of the VST 3 binary interface: fixed-size integers, result
// codes, 16-bit text and the platform switches the interface headers use.
//
// The layer targets the non-COM platforms (Linux and macOS, 64-bit). On
// those the SDK lays its structs out with natural alignment: on Linux it sets
// no packing at all and on 64-bit macOS it packs at 16, which no member of
// any interface struct exceeds. The headers therefore declare plain structs
// and the ABI test pins every offset.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#error "this VST 3 layer implements the non-COM (Linux/macOS) binary interface only"
#endif

#if defined(__linux__)
#define SMTG_OS_LINUX 1
#define SMTG_OS_MACOS 0
#elif defined(__APPLE__)
#define SMTG_OS_LINUX 0
#define SMTG_OS_MACOS 1
#else
#error "unsupported platform"
#endif
#define SMTG_OS_WINDOWS 0

static_assert(sizeof(void *) == 8, "the layer is written for 64-bit targets");

// Calling convention of interface methods: the platform default on Linux and
// macOS.
#define PLUGIN_API
#define SMTG_OVERRIDE override
#define SMTG_CONSTEXPR constexpr
#define SMTG_CONSTEXPR14 constexpr
#define SMTG_NOEXCEPT noexcept
#define SMTG_EXPORT_SYMBOL __attribute__((visibility("default")))
#define SMTG_HIDDEN_SYMBOL __attribute__((visibility("hidden")))
#define SMTG_ALWAYS_INLINE inline __attribute__((__always_inline__))

#ifndef UNICODE
#define UNICODE 1
#endif

namespace Steinberg {

typedef char int8;
typedef unsigned char uint8;
typedef unsigned char uchar;
typedef short int16;
typedef unsigned short uint16;
typedef int int32;
typedef unsigned int uint32;
typedef long long int64;
typedef unsigned long long uint64;

static const int32 kMaxInt32 = 0x7fffffff;
static const int32 kMinInt32 = -0x7fffffff - 1;
static const uint32 kMaxInt32u = 0xffffffffu;
static const int64 kMaxInt64 = 0x7fffffffffffffffLL;
static const int64 kMinInt64 = -0x7fffffffffffffffLL - 1;
static const uint64 kMaxInt64u = 0xffffffffffffffffULL;

typedef int64 TSize;
typedef int32 tresult;
typedef uint64 TPtrInt;
typedef uint8 TBool;

typedef char char8;
typedef char16_t char16;
typedef char16 tchar; // the interfaces are UTF-16 throughout

typedef const char8 *CStringA;
typedef const char16 *CStringW;
typedef const tchar *CString;
typedef const char8 *FIDString; // identifier text: attribute ids, message ids, class ids

typedef int32 UCoord;
static const UCoord kMaxCoord = 0x7FFFFFFF;
static const UCoord kMinCoord = -0x7FFFFFFF;

static_assert(sizeof(int8) == 1 && sizeof(int16) == 2 && sizeof(int32) == 4 &&
              sizeof(int64) == 8 && sizeof(char16) == 2 && sizeof(TBool) == 1);

} // namespace Steinberg
