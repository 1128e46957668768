// LZX compressor for cabinet folders (compression type 0x0003 | windowBits << 8).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct LzxStream;  // one cabinet folder = one LZX stream

// windowBits 15..21; e8TranslationSize: 0 = no E8 translation, else the
// translation size written in the stream header. Returns null for a window
// out of range.
// A stream holds at most 65535 frames (a folder's limit on its data blocks).
// With E8 translation on, keep it within 32768 frames (1 GiB): decoders
// disagree about the frame after that (Wine's stops undoing the translation
// before it, libmspack's after it).
LzxStream* LzxBegin(int windowBits, uint32_t e8TranslationSize);

// A sink receives each finished CFDATA payload in order: the compressed
// bytes of exactly one 32 KiB frame of output (the last may be shorter), and
// that frame's uncompressed size.
using LzxFrameSink = void (*)(void* context, const uint8_t* compressed, size_t compressedSize,
                              uint32_t uncompressedSize);

// Feeds the folder's uncompressed bytes (any sizes); the encoder buffers what
// its look-ahead needs and emits frames as they are decided.
void LzxWrite(LzxStream*, const uint8_t* data, size_t size, LzxFrameSink sink, void* context);

// Ends the stream: emits the remaining frames; frees the stream.
void LzxEnd(LzxStream*, LzxFrameSink sink, void* context);
