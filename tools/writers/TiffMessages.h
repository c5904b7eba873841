// libtiff reports through handlers of the whole process: the writers keep
// its last error for their message and drop its warnings.
#pragma once

#include <string>

namespace vinsk::tools {

// Installs the handlers and forgets the last error.
void ListenToTiff();

// libtiff's last error since ListenToTiff, empty when none.
const std::string& TiffMessage();

} // namespace vinsk::tools
