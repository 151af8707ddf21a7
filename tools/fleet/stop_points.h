// Named points of a run where a test can have the tool killed, to show that a kill anywhere
// leaves the store consistent. QUIBLINK_FLEET_KILL_AT=POINT[:N] kills at the Nth time (default
// the first) a process of the run passes POINT: a worker kills its parent and then itself (the
// other workers follow their parent), the parent kills itself. Without the variable a point
// costs one look-up of the environment.
#pragma once

namespace quiblink::fleet {

// Points: "object-written" (an object's temporary is whole, not yet renamed), "object-named"
// (renamed, its version not yet committed), "before-commit", "after-commit".
void StopPoint(const char *point, bool in_worker);

}  // namespace quiblink::fleet
