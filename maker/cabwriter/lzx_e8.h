// The x86 call translation: E8 operands turned from relative to absolute,
// the inverse of what decoders apply to each output frame.
#pragma once
#include <cstdint>

namespace lzx {

// Translates one frame in place. frameStart: the frame's offset in the
// stream; translationSize: the size written in the stream header. Decoders
// leave frames of 10 bytes or fewer alone and look at no E8 byte among a
// frame's last 10; after an E8 they skip its 4 operand bytes.
void E8Translate(uint8_t* frame, uint32_t size, uint32_t frameStart, uint32_t translationSize);

}  // namespace lzx
