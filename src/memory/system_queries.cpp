#include "memory/system_queries.h"

#include "platform/platform.h"

namespace zadized {

std::int32_t AsyncKeyState(std::int32_t virtualKey) {
  // Only the top bit means "down now"; the low bit reports an earlier press,
  // and any other bit the system may set means nothing to the host.
  const auto answer = static_cast<std::uint16_t>(platform::Current().getAsyncKeyState(virtualKey));
  return (answer & 0x8000u) != 0 ? 1 : 0;
}

std::uint32_t GetAccTime() { return platform::Current().timeGetTime(); }

}  // namespace zadized
