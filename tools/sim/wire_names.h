// The simulator is written in the wire library's words: bytes, time, families, hex, frames of
// both families and the serial line, by their short names.
#pragma once

#include "wire/common.h"
#include "wire/hex.h"

namespace quiblink::wire::classic {}
namespace quiblink::wire::graphic {}

namespace quiblink::sim {
using namespace wire;
namespace classic {
using namespace wire::classic;
}
namespace graphic {
using namespace wire::graphic;
}
}  // namespace quiblink::sim
