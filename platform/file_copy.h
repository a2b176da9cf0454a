// Copying a file over another, as the product dialog puts the chosen image in place of
// flash.bin. The target is replaced in one step (a new file renamed over it), so that it is
// never seen half written, and is left readable by everyone, which the TFTP server requires.
#pragma once

#include <filesystem>

namespace platform {

// False when the source cannot be read or the target cannot be written; the target is then
// unchanged.
bool copy_file_replacing(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace platform
