// The memory and system exports, defined against the public header.
#include <zadized.h>

#include "memory/raw_access.h"
#include "memory/system_queries.h"

extern "C" {

int32_t ZADIZED_API AsyncKeyState(int32_t virtualKey) { return zadized::AsyncKeyState(virtualKey); }

uint32_t ZADIZED_API GetAccTime(void) { return zadized::GetAccTime(); }

ZadizedAddress ZADIZED_API CreateBuffer(uint32_t size) { return zadized::CreateBuffer(size); }

ZadizedAddress ZADIZED_API DeleteBuffer(ZadizedAddress block) { return zadized::DeleteBuffer(block); }

ZadizedAddress ZADIZED_API PtrGet(ZadizedAddress value) { return zadized::PtrGet(value); }

void ZADIZED_API PtrPut(uint32_t value, ZadizedAddress address, uint32_t size) {
  zadized::PtrPut(value, address, size);
}

uint32_t ZADIZED_API PtrGetValue(ZadizedAddress address, uint32_t size) {
  return zadized::PtrGetValue(address, size);
}

uint32_t ZADIZED_API PtrGetArray(ZadizedAddress base, int32_t index, uint32_t size) {
  return zadized::PtrGetArray(base, index, size);
}

void ZADIZED_API PtrPutArray(uint32_t value, ZadizedAddress base, int32_t index, uint32_t size) {
  zadized::PtrPutArray(value, base, index, size);
}

void ZADIZED_API PtrCopyData(ZadizedAddress source, ZadizedAddress destination, int32_t length) {
  zadized::PtrCopyData(source, destination, length);
}

void ZADIZED_API PtrPutString(ZadizedAddress source, ZadizedAddress destination, int32_t length) {
  zadized::PtrPutString(source, destination, length);
}

ZadizedAddress ZADIZED_API PtrGetString(ZadizedAddress source, int32_t flag) {
  return zadized::PtrGetString(source, flag);
}

}  // extern "C"
