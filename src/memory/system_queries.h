// The two facts about the system a host cannot query itself.
#pragma once

#include <cstdint>

namespace zadized {

// 1 while the key is held down at the moment of the call, else 0. A press
// that has already ended counts as up.
std::int32_t AsyncKeyState(std::int32_t virtualKey);

// Milliseconds since the system started, wrapping after 2^32; the timer's
// resolution is left as the system has it.
std::uint32_t GetAccTime();

}  // namespace zadized
