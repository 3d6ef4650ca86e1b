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

// The coder's loop as written, and the same with BMI2's shifts; both give
// the same bytes. The call above takes the fastest that runs.
enum class HuffmanCoder { kPlain, kBmi2 };
bool HuffmanCoderRuns(HuffmanCoder coder);
// As above with the given loop; 0 also when it does not run here.
std::size_t HuffmanZlibCompress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t capacity,
                                HuffmanCoder coder);

}  // namespace velvetshade
