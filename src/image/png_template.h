// PNG files as templates. A PNG file is turned into the block a BMP file of
// the same picture would be, so the cache, the colour map, the search and a
// host reading pixels through the record never meet anything but BMP.
#pragma once

#include <cstdint>

namespace zadized {

// The largest BMP form a PNG file may turn into: 54 header bytes and the
// padded rows. 256 MiB holds an 8K screenshot (7680 x 4320) with room to
// spare; a bigger picture is no template of a screen.
constexpr std::uint32_t kLargestPngBmpForm = 256u << 20;

// What the decoder itself may hold at once (zlib's window, two scanlines,
// the ancillary chunks it keeps), so that no file can make it ask for more.
constexpr std::uint32_t kPngDecoderBudget = 64u << 20;

// Why a PNG file was refused: 0 for none, a libspng error code (spng_strerror
// names it; SPNG_IO_EOF for a file cut short), or one of these.
constexpr std::int32_t kPngTooLarge = -100;  // the BMP form would pass kLargestPngBmpForm
constexpr std::int32_t kPngNoMemory = -101;  // the BMP block could not be allocated

// True when `data` starts with the 8-byte PNG signature.
bool HasPngSignature(const std::uint8_t* data, std::uint32_t size);

// Decodes the PNG file in `png` (its first image: the default image of an
// animated file) into a new zero-filled platform block holding the same
// picture as a 24-bit bottom-up BMP file: a 54-byte header, then rows of
// blue, green, red padded to 4 bytes. Samples are taken as stored (no gamma,
// colour profile or background applied; 16-bit samples keep their high
// byte; alpha is not blended). Answers null, with `*bmpSize` 0, when the file
// is malformed or truncated, a chunk's CRC or the image data's checksum is
// wrong, or the picture passes the limits above. `reason`, when given,
// receives why.
//
// `opacity`, when given, learns which pixels are wholly opaque: null when
// all are, otherwise one byte per pixel in the BMP form's stored order
// (bottom row first, no padding), 1 where the alpha, from an alpha channel
// or a tRNS chunk, is at its maximum (255, or 65535 for 16-bit samples) and 0
// where it is below. It lies in the same block, directly after the BMP form's
// `*bmpSize` bytes, and goes with it.
std::uint8_t* DecodePngAsBmp(const std::uint8_t* png, std::uint32_t size, std::uint32_t* bmpSize,
                             std::int32_t* reason = nullptr, const std::uint8_t** opacity = nullptr);

}  // namespace zadized
