#pragma once
// A zlib stream of literals only, each block with its own Huffman code: for
// predictor-differenced image strips, where matches buy almost nothing and a
// literal coder runs many times faster than a matching one.

#include <cstddef>
#include <cstdint>

namespace velvetshade {

// Bound on the output for size input bytes (a stored-block fallback must always fit).
std::size_t HuffmanZlibBound(std::size_t size);

// A complete zlib stream (header, deflate blocks, Adler-32) of in[0, size),
// literals only, each block with its own dynamic Huffman code; blocks that
// would not shrink are stored. Returns the bytes written, 0 only if
// capacity < HuffmanZlibBound(size).
std::size_t HuffmanZlibCompress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t capacity);

}  // namespace velvetshade
