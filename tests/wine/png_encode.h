// Writing PNG files for the Windows tests, through the same decoder library
// the DLL links, so a test can save a template in any PNG form.
#pragma once

#include <spng.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace zadized::test {

// An encoder context that writes to memory, with its header set.
inline spng_ctx* NewPngEncoder(const spng_ihdr& ihdr) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr header = ihdr;
  spng_set_ihdr(ctx, &header);
  return ctx;
}

// Encodes `raw` (rows as the header describes them) and frees the context:
// the file's bytes, or nothing when the encoder refused.
inline std::vector<std::uint8_t> FinishPng(spng_ctx* ctx, const std::vector<std::uint8_t>& raw) {
  int error = spng_encode_image(ctx, raw.data(), raw.size(), SPNG_FMT_RAW, SPNG_ENCODE_FINALIZE);
  std::size_t length = 0;
  void* png = error == 0 ? spng_get_png_buffer(ctx, &length, &error) : nullptr;
  spng_ctx_free(ctx);
  std::vector<std::uint8_t> out;
  if (png != nullptr) out.assign(static_cast<std::uint8_t*>(png), static_cast<std::uint8_t*>(png) + length);
  std::free(png);
  return out;
}

}  // namespace zadized::test
