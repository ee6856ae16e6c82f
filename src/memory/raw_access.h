// Memory blocks and raw access at plain integer addresses, for a host that
// has integers and strings but no pointers. Addresses are used as given and
// never validated: the host answers for every byte it asks us to touch.
#pragma once

#include <cstdint>

namespace zadized {

// 256 characters and the NUL after them.
constexpr std::uint32_t kStringResultSize = 257;

// The buffer PtrGetString answers with on the first thread that calls it (in
// a host with one thread, every call); each call on that thread overwrites
// it. Static storage, so it is empty when the library is loaded. Every other
// thread gets a buffer of its own while this one is taken.
extern char StringResultBuffer[kStringResultSize];

// A fixed, zero-filled global-memory block of `size` bytes; 0 for size 0 or
// when the system has none.
std::uintptr_t CreateBuffer(std::uint32_t size);

// 0 for block 0 or when released; the block itself when the system refuses.
std::uintptr_t DeleteBuffer(std::uintptr_t block);

// The argument unchanged: a host passing a variable by reference learns its
// address.
std::uintptr_t PtrGet(std::uintptr_t value);

// Writes the low `size` bytes of `value`, least significant first; sizes
// outside 1..4 write nothing.
void PtrPut(std::uint32_t value, std::uintptr_t address, std::uint32_t size);

// The little-endian value of the first min(size, 4) bytes; 0 for size 0.
std::uint32_t PtrGetValue(std::uintptr_t address, std::uint32_t size);

// Element `index` (signed) of an array of `size`-byte values at `base`; the
// address wraps like the host's integers. 0 for sizes outside 1..4.
std::uint32_t PtrGetArray(std::uintptr_t base, std::int32_t index, std::uint32_t size);
void PtrPutArray(std::uint32_t value, std::uintptr_t base, std::int32_t index, std::uint32_t size);

// length >= 0: that many bytes, one at a time upward, so a destination just
// above an overlapping source repeats the source's first bytes. length < 0:
// a string of at most 256 characters, then a NUL.
void PtrCopyData(std::uintptr_t source, std::uintptr_t destination, std::int32_t length);
void PtrPutString(std::uintptr_t source, std::uintptr_t destination, std::int32_t length);

// flag 0 empties the calling thread's result buffer without reading
// `source`; any other flag copies the string at `source` into it (at most 256
// characters). Answers the buffer's address either way; the text stays until
// the next PtrGetString on the same thread, and the buffer until the thread
// ends or the library is unloaded.
std::uintptr_t PtrGetString(std::uintptr_t source, std::int32_t flag);

}  // namespace zadized
