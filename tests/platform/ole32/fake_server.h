// What the fake in-process server and its tests agree on. The identifiers have internal linkage:
// an inline variable may become an STB_GNU_UNIQUE symbol, and glibc never unloads a module that
// has one, which would defeat CoFreeUnusedLibraries.
#pragma once

#include <objbase.h>

// {6F1E5A10-8C2B-4D7E-9A31-0B7C4E2D9F01}
static constexpr CLSID kFakeServerClsid = {0x6F1E5A10, 0x8C2B, 0x4D7E, {0x9A, 0x31, 0x0B, 0x7C, 0x4E, 0x2D, 0x9F, 0x01}};
// A class registered with the fake module as its server, which the module does not serve.
static constexpr CLSID kUnservedClsid = {0x6F1E5A10, 0x8C2B, 0x4D7E, {0x9A, 0x31, 0x0B, 0x7C, 0x4E, 0x2D, 0x9F, 0x02}};
static constexpr IID kFakeIid = {0x6F1E5A10, 0x8C2B, 0x4D7E, {0x9A, 0x31, 0x0B, 0x7C, 0x4E, 0x2D, 0x9F, 0x10}};

struct IFake : IUnknown {
  virtual int STDMETHODCALLTYPE Answer() = 0;
  // Objects of the module alive right now.
  virtual int STDMETHODCALLTYPE LiveObjects() = 0;
};
