// The few routines the compiler emits calls to on its own (structure
// copies and zero-fills, 64-bit division). The installer links neither the
// C run-time library nor libgcc, so it brings its own; string instructions
// keep the compiler from turning these loops back into calls to themselves.
#include <stddef.h>

extern "C" {

void* memset(void* destination, int value, size_t count) {
  void* d = destination;
  __asm__ volatile("rep stosb" : "+D"(d), "+c"(count) : "a"(value) : "memory");
  return destination;
}

void* memcpy(void* destination, const void* source, size_t count) {
  void* d = destination;
  __asm__ volatile("rep movsb" : "+D"(d), "+S"(source), "+c"(count) : : "memory");
  return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  if (d <= s || d >= s + count)
    return memcpy(destination, source, count);
  // Overlapping with the destination above the source: copy backwards.
  d += count - 1;
  s += count - 1;
  __asm__ volatile("std\n\trep movsb\n\tcld" : "+D"(d), "+S"(s), "+c"(count) : : "memory");
  return destination;
}

int memcmp(const void* left, const void* right, size_t count) {
  const unsigned char* a = static_cast<const unsigned char*>(left);
  const unsigned char* b = static_cast<const unsigned char*>(right);
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i])
      return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

// Unsigned 64-bit division, which i686 has no instruction for (progress
// fractions). Bit by bit, shifting the dividend into the remainder: a few
// dozen bytes instead of libgcc's few hundred, and fast enough for a
// progress report. A zero divisor gives all ones instead of a fault; the
// callers never pass one.
unsigned long long __udivdi3(unsigned long long dividend, unsigned long long divisor) {
  unsigned long long remainder = 0;
  for (int bit = 0; bit < 64; ++bit) {
    // Here the remainder has at most `bit` significant bits: the shift
    // loses none.
    remainder = (remainder << 1) | (dividend >> 63);
    dividend <<= 1;
    if (remainder >= divisor) {
      remainder -= divisor;
      dividend |= 1;
    }
  }
  return dividend;
}

}  // extern "C"
