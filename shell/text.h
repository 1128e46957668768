// Lengths and copies of NUL-terminated text, narrow or wide: lstrlen and
// lstrcpyn over again, so that each use is a plain call instead of one
// through the import table, which the loader relocates at every site.
// Out of line, with the arguments in registers: the shortest calls.
#pragma once

template <typename Char>
__attribute__((noinline)) int __fastcall TextLength(const Char* text) {
  int length = 0;
  while (text[length])
    ++length;
  return length;
}

// As lstrcpyn: at most `capacity` - 1 units of `text`, then a NUL
// (`capacity` at least 1); without a capacity, as lstrcpy.
template <typename Char>
__attribute__((noinline)) void __fastcall CopyText(Char* out, const Char* text,
                                                   unsigned capacity = ~0u) {
  for (; capacity > 1 && *text; --capacity)
    *out++ = *text++;
  *out = 0;
}
