// Per-thread values and the reader-writer lock of native builds: C++
// thread-local records and POSIX reader-writer locks.
#if !defined(_WIN32)
#include <mutex>

#include "platform/platform.h"

namespace zadized::platform {

namespace {

std::mutex g_listLock;
struct Values;
Values* g_list = nullptr;

// A thread's record, on a list (under g_listLock) while it holds values, so
// that ReleaseAllThreadValues reaches every thread's.
struct Values {
  void* value[kThreadSlotCount] = {};
  void (*release[kThreadSlotCount])(void*) = {};
  Values* previous = nullptr;
  Values* next = nullptr;
  bool listed = false;

  ~Values();
};

thread_local Values t_values;
thread_local void* t_context = nullptr;

void Unlist(Values& v) {
  if (!v.listed) return;
  if (v.previous != nullptr) v.previous->next = v.next;
  if (v.next != nullptr) v.next->previous = v.previous;
  if (g_list == &v) g_list = v.next;
  v.previous = v.next = nullptr;
  v.listed = false;
}

// Empties `v` under the lock and answers what it held, to be released
// outside it.
struct Held {
  void* value[kThreadSlotCount];
  void (*release[kThreadSlotCount])(void*);
};
Held TakeAll(Values& v) {
  Held h{};
  for (int slot = 0; slot < kThreadSlotCount; ++slot) {
    h.value[slot] = v.value[slot];
    h.release[slot] = v.release[slot];
    v.value[slot] = nullptr;
    v.release[slot] = nullptr;
  }
  Unlist(v);
  return h;
}

void Dispose(const Held& h) {
  for (int slot = 0; slot < kThreadSlotCount; ++slot) {
    if (h.value[slot] != nullptr && h.release[slot] != nullptr) h.release[slot](h.value[slot]);
  }
}

void ReleaseOwn(Values& v) {
  Held h;
  {
    std::lock_guard<std::mutex> hold(g_listLock);
    h = TakeAll(v);
  }
  Dispose(h);
}

// The thread is ending.
Values::~Values() { ReleaseOwn(*this); }

}  // namespace

void* ThreadValue(ThreadSlot slot) { return t_values.value[slot]; }

bool SetThreadValue(ThreadSlot slot, void* value, void (*release)(void*)) {
  Values& own = t_values;
  void* previous = own.value[slot];
  void (*previousRelease)(void*) = own.release[slot];
  {
    // The list is read by other threads' ReleaseAllThreadValues, so the
    // slots change under its lock too.
    std::lock_guard<std::mutex> hold(g_listLock);
    own.value[slot] = value;
    own.release[slot] = value != nullptr ? release : nullptr;
    if (value != nullptr && !own.listed) {
      own.next = g_list;
      if (g_list != nullptr) g_list->previous = &own;
      g_list = &own;
      own.listed = true;
    }
  }
  if (previous != nullptr && previous != value && previousRelease != nullptr) previousRelease(previous);
  return true;
}

void ReleaseThreadValues() { ReleaseOwn(t_values); }

void ReleaseAllThreadValues() {
  for (;;) {
    Held h;
    {
      std::lock_guard<std::mutex> hold(g_listLock);
      if (g_list == nullptr) return;
      h = TakeAll(*g_list);
    }
    Dispose(h);
  }
}

void* CallContext() { return t_context; }

bool SetCallContext(void* value) {
  t_context = value;
  return true;
}

void LockShared(SharedLock& lock) { pthread_rwlock_rdlock(&lock.state); }
void UnlockShared(SharedLock& lock) { pthread_rwlock_unlock(&lock.state); }
void LockExclusive(SharedLock& lock) { pthread_rwlock_wrlock(&lock.state); }
void UnlockExclusive(SharedLock& lock) { pthread_rwlock_unlock(&lock.state); }

}  // namespace zadized::platform
#endif
