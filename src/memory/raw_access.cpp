#include "memory/raw_access.h"

#include <atomic>

#include "platform/platform.h"

namespace zadized {

char StringResultBuffer[kStringResultSize];

namespace {

constexpr std::uint32_t kMaxStringCharacters = kStringResultSize - 1;

std::uint8_t* Bytes(std::uintptr_t address) { return reinterpret_cast<std::uint8_t*>(address); }

bool IsValueSize(std::uint32_t size) { return size >= 1 && size <= 4; }

// The multiplication is unsigned so that it wraps instead of overflowing; the
// index is widened with its sign first, so a negative index reaches below base.
std::uintptr_t ElementAddress(std::uintptr_t base, std::int32_t index, std::uint32_t size) {
  return base + static_cast<std::uintptr_t>(static_cast<std::intptr_t>(index)) * size;
}

// Byte by byte so that no byte past the value is touched, whatever the
// alignment, and no sign ever reaches the upper bits.
std::uint32_t ReadValue(const std::uint8_t* at, std::uint32_t count) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < count; ++i) value |= static_cast<std::uint32_t>(at[i]) << (8 * i);
  return value;
}

void WriteValue(std::uint32_t value, std::uint8_t* at, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Upward, one byte at a time: with an overlapping destination above the
// source, bytes written early are read again later, which hosts rely on to
// fill a range with a repeated pattern. memmove would copy the original bytes.
void CopyBytes(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t length) {
  for (std::uint32_t i = 0; i < length; ++i) destination[i] = source[i];
}

void CopyString(const std::uint8_t* source, std::uint8_t* destination) {
  std::uint32_t i = 0;
  for (; i < kMaxStringCharacters; ++i) {
    const std::uint8_t c = source[i];
    if (c == 0) break;
    destination[i] = c;
  }
  destination[i] = 0;
}

// The static buffer serves one thread at a time: the first to ask, until it
// ends. A host with one thread therefore gets it, as it always did.
std::atomic<bool> g_staticBufferTaken{false};

void GiveBackStaticBuffer(void*) { g_staticBufferTaken.store(false, std::memory_order_release); }
void FreeResultBlock(void* block) { platform::Current().freeBlock(block); }

// The calling thread's result buffer: the static one if it is free, else a
// block of the thread's own, released when the thread ends. Without
// per-thread storage or memory the static buffer is shared, as it was before
// hosts had threads.
std::uint8_t* ResultBuffer() {
  auto* own = static_cast<std::uint8_t*>(platform::ThreadValue(platform::kStringResultSlot));
  if (own != nullptr) return own;
  auto* shared = reinterpret_cast<std::uint8_t*>(StringResultBuffer);
  bool taken = false;
  if (g_staticBufferTaken.compare_exchange_strong(taken, true, std::memory_order_acquire)) {
    if (platform::SetThreadValue(platform::kStringResultSlot, shared, GiveBackStaticBuffer)) return shared;
    GiveBackStaticBuffer(nullptr);
    return shared;
  }
  void* block = platform::Current().allocZeroed(kStringResultSize);
  if (block != nullptr && platform::SetThreadValue(platform::kStringResultSlot, block, FreeResultBlock)) {
    return static_cast<std::uint8_t*>(block);
  }
  if (block != nullptr) platform::Current().freeBlock(block);
  return shared;
}

}  // namespace

std::uintptr_t CreateBuffer(std::uint32_t size) {
  if (size == 0) return 0;
  return reinterpret_cast<std::uintptr_t>(platform::Current().allocZeroed(size));
}

std::uintptr_t DeleteBuffer(std::uintptr_t block) {
  if (block == 0) return 0;
  return reinterpret_cast<std::uintptr_t>(platform::Current().freeBlock(reinterpret_cast<void*>(block)));
}

std::uintptr_t PtrGet(std::uintptr_t value) { return value; }

void PtrPut(std::uint32_t value, std::uintptr_t address, std::uint32_t size) {
  if (IsValueSize(size)) WriteValue(value, Bytes(address), size);
}

std::uint32_t PtrGetValue(std::uintptr_t address, std::uint32_t size) {
  // Bytes past the fourth would carry a weight of 2^32, which is 0.
  return ReadValue(Bytes(address), size < 4 ? size : 4);
}

std::uint32_t PtrGetArray(std::uintptr_t base, std::int32_t index, std::uint32_t size) {
  if (!IsValueSize(size)) return 0;
  return ReadValue(Bytes(ElementAddress(base, index, size)), size);
}

void PtrPutArray(std::uint32_t value, std::uintptr_t base, std::int32_t index, std::uint32_t size) {
  if (IsValueSize(size)) WriteValue(value, Bytes(ElementAddress(base, index, size)), size);
}

void PtrCopyData(std::uintptr_t source, std::uintptr_t destination, std::int32_t length) {
  if (length < 0) {
    CopyString(Bytes(source), Bytes(destination));
  } else {
    CopyBytes(Bytes(source), Bytes(destination), static_cast<std::uint32_t>(length));
  }
}

void PtrPutString(std::uintptr_t source, std::uintptr_t destination, std::int32_t length) {
  PtrCopyData(source, destination, length);
}

std::uintptr_t PtrGetString(std::uintptr_t source, std::int32_t flag) {
  std::uint8_t* buffer = ResultBuffer();
  if (flag == 0) {
    buffer[0] = 0;
  } else {
    CopyString(Bytes(source), buffer);
  }
  return reinterpret_cast<std::uintptr_t>(buffer);
}

}  // namespace zadized
