// Per-thread values and the reader-writer lock of the DLL: thread-local
// storage and slim reader-writer locks, nothing of the C runtime's.
#if defined(_WIN32)
#include <windows.h>

#include "platform/platform.h"

namespace zadized::platform {

namespace {

// One record per thread that has set a value, on a list so that unloading
// the library can reach every thread's values.
struct Values {
  void* value[kThreadSlotCount];
  void (*release[kThreadSlotCount])(void*);
  Values* previous;
  Values* next;
};

// Thread-local storage indexes, plus 1, so that 0 (static storage at load)
// means none yet: nothing is taken from the system until a thread needs it.
volatile LONG g_valuesIndex = 0;
volatile LONG g_contextIndex = 0;

SRWLOCK g_listLock = SRWLOCK_INIT;
Values* g_list = nullptr;

// The index held in `word`, taking one from the system on first use; two
// threads that race for it keep the first and give the other back.
DWORD IndexIn(volatile LONG* word, bool create) {
  const LONG held = InterlockedCompareExchange(word, 0, 0);
  if (held != 0 || !create) return held != 0 ? static_cast<DWORD>(held - 1) : TLS_OUT_OF_INDEXES;
  const DWORD fresh = TlsAlloc();
  if (fresh == TLS_OUT_OF_INDEXES) return fresh;
  const LONG prior = InterlockedCompareExchange(word, static_cast<LONG>(fresh + 1), 0);
  if (prior == 0) return fresh;
  TlsFree(fresh);
  return static_cast<DWORD>(prior - 1);
}

Values* OwnValues(bool create) {
  const DWORD index = IndexIn(&g_valuesIndex, create);
  if (index == TLS_OUT_OF_INDEXES) return nullptr;
  auto* own = static_cast<Values*>(TlsGetValue(index));
  if (own != nullptr || !create) return own;
  own = static_cast<Values*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Values)));
  if (own == nullptr) return nullptr;
  if (!TlsSetValue(index, own)) {
    HeapFree(GetProcessHeap(), 0, own);
    return nullptr;
  }
  AcquireSRWLockExclusive(&g_listLock);
  own->next = g_list;
  if (g_list != nullptr) g_list->previous = own;
  g_list = own;
  ReleaseSRWLockExclusive(&g_listLock);
  return own;
}

// Hands a record's values to their release functions and frees it; the
// record is off the list already.
void Dispose(Values* v) {
  for (int slot = 0; slot < kThreadSlotCount; ++slot) {
    if (v->value[slot] != nullptr && v->release[slot] != nullptr) v->release[slot](v->value[slot]);
  }
  HeapFree(GetProcessHeap(), 0, v);
}

void GiveBackIndex(volatile LONG* word) {
  const LONG held = InterlockedExchange(word, 0);
  if (held != 0) TlsFree(static_cast<DWORD>(held - 1));
}

}  // namespace

void* ThreadValue(ThreadSlot slot) {
  Values* own = OwnValues(false);
  return own != nullptr ? own->value[slot] : nullptr;
}

bool SetThreadValue(ThreadSlot slot, void* value, void (*release)(void*)) {
  Values* own = OwnValues(value != nullptr);
  if (own == nullptr) return value == nullptr;
  void* previous = own->value[slot];
  void (*previousRelease)(void*) = own->release[slot];
  own->value[slot] = value;
  own->release[slot] = value != nullptr ? release : nullptr;
  if (previous != nullptr && previous != value && previousRelease != nullptr) previousRelease(previous);
  return true;
}

void ReleaseThreadValues() {
  const DWORD index = IndexIn(&g_valuesIndex, false);
  if (index == TLS_OUT_OF_INDEXES) return;
  auto* own = static_cast<Values*>(TlsGetValue(index));
  if (own == nullptr) return;
  TlsSetValue(index, nullptr);
  AcquireSRWLockExclusive(&g_listLock);
  if (own->previous != nullptr) own->previous->next = own->next;
  if (own->next != nullptr) own->next->previous = own->previous;
  if (g_list == own) g_list = own->next;
  ReleaseSRWLockExclusive(&g_listLock);
  Dispose(own);
}

// Only at unload: the indexes go back to the system too, and with them every
// thread's pointer to its (now freed) record.
void ReleaseAllThreadValues() {
  AcquireSRWLockExclusive(&g_listLock);
  Values* all = g_list;
  g_list = nullptr;
  ReleaseSRWLockExclusive(&g_listLock);
  while (all != nullptr) {
    Values* next = all->next;
    Dispose(all);
    all = next;
  }
  GiveBackIndex(&g_valuesIndex);
  GiveBackIndex(&g_contextIndex);
}

void* CallContext() {
  const DWORD index = IndexIn(&g_contextIndex, false);
  return index == TLS_OUT_OF_INDEXES ? nullptr : TlsGetValue(index);
}

bool SetCallContext(void* value) {
  const DWORD index = IndexIn(&g_contextIndex, value != nullptr);
  if (index == TLS_OUT_OF_INDEXES) return value == nullptr;
  return TlsSetValue(index, value) != 0;
}

void LockShared(SharedLock& lock) { AcquireSRWLockShared(reinterpret_cast<PSRWLOCK>(&lock.state)); }
void UnlockShared(SharedLock& lock) { ReleaseSRWLockShared(reinterpret_cast<PSRWLOCK>(&lock.state)); }
void LockExclusive(SharedLock& lock) { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock.state)); }
void UnlockExclusive(SharedLock& lock) { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock.state)); }

}  // namespace zadized::platform
#endif
