// Whether the process holds the rights that serving a board needs (UDP ports 67 and 69 and
// the board's neighbour entry), asked once at start-up so that a user without them is told
// so at once instead of being left waiting for a board that is never answered.
#pragma once

namespace platform {

// Windows: the process runs elevated, as a member of the Administrators group. Elsewhere the
// system has no single such right (root and file capabilities both do), so the answer is
// true and the operations themselves report a refusal.
bool has_administrator_rights();

}  // namespace platform
