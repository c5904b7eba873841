// Loading a picture file of a registered format into the raster.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "image/Bitmap32.h"

namespace vinsk {

class EPictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TPictureFormat {
    std::string Extension;   // without the dot, lower case
    std::string Description; // as the open dialog lists it
};

// The registered formats in registration order.
const std::vector<TPictureFormat>& RegisteredPictureFormats();

// The open-picture dialog's filter in the "Text|*.ext|..." form, built from
// the list from the last registration to the first, headed by "All".
std::string PictureOpenFilter();

// Decodes the file into `out`; on any failure throws EPictureError with a
// message naming the file and the problem and leaves `out` untouched.
// An unregistered extension gives "Unknown picture file extension (.%s)".
void LoadPicture(const std::string& path, TBitmap32& out);

} // namespace vinsk
