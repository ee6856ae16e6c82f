#include "boundary/exports.h"
#include "memory/raw_access.h"
#include "memory/system_queries.h"

extern "C" {

std::int32_t ZADIZED_STDCALL AsyncKeyState(std::int32_t virtualKey) {
  return zadized::AsyncKeyState(virtualKey);
}

std::uint32_t ZADIZED_STDCALL GetAccTime() { return zadized::GetAccTime(); }

std::uintptr_t ZADIZED_STDCALL CreateBuffer(std::uint32_t size) { return zadized::CreateBuffer(size); }

std::uintptr_t ZADIZED_STDCALL DeleteBuffer(std::uintptr_t block) { return zadized::DeleteBuffer(block); }

std::uintptr_t ZADIZED_STDCALL PtrGet(std::uintptr_t value) { return zadized::PtrGet(value); }

void ZADIZED_STDCALL PtrPut(std::uint32_t value, std::uintptr_t address, std::uint32_t size) {
  zadized::PtrPut(value, address, size);
}

std::uint32_t ZADIZED_STDCALL PtrGetValue(std::uintptr_t address, std::uint32_t size) {
  return zadized::PtrGetValue(address, size);
}

std::uint32_t ZADIZED_STDCALL PtrGetArray(std::uintptr_t base, std::int32_t index, std::uint32_t size) {
  return zadized::PtrGetArray(base, index, size);
}

void ZADIZED_STDCALL PtrPutArray(std::uint32_t value, std::uintptr_t base, std::int32_t index,
                                 std::uint32_t size) {
  zadized::PtrPutArray(value, base, index, size);
}

void ZADIZED_STDCALL PtrCopyData(std::uintptr_t source, std::uintptr_t destination, std::int32_t length) {
  zadized::PtrCopyData(source, destination, length);
}

void ZADIZED_STDCALL PtrPutString(std::uintptr_t source, std::uintptr_t destination, std::int32_t length) {
  zadized::PtrPutString(source, destination, length);
}

std::uintptr_t ZADIZED_STDCALL PtrGetString(std::uintptr_t source, std::int32_t flag) {
  return zadized::PtrGetString(source, flag);
}

}  // extern "C"
