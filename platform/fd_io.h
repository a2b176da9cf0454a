// Small helpers for raw descriptors, shared by the pieces of the platform layer that copy
// bytes between them.
#pragma once

#include <cstddef>

namespace platform {

// Writes all `length` bytes, retrying short and interrupted writes; false on an error.
bool write_whole(int fd, const char* data, std::size_t length);

}  // namespace platform
