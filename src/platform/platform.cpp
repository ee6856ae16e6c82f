#include "platform/platform.h"

namespace zadized::platform {

namespace {
const Ops* g_override = nullptr;
}

const Ops& Current() { return g_override != nullptr ? *g_override : Native(); }

void Override(const Ops* ops) { g_override = ops; }

}  // namespace zadized::platform
