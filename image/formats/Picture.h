// Loading a picture file of a registered format into the raster.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/Bitmap32.h"
#include "image/MemoryBudget.h"
#include "linear/LinearPlane.h"
#include "linear/ToneCurve.h"
#include "setup/DriveSettings.h"
#include "setup/FileValues.h"

namespace vinsk {

class EPictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A refusal for want of room beside what the load was told is held (the
// open picture, or the picture a frame is loaded for).
class EPictureNoRoom : public EPictureError {
public:
    using EPictureError::EPictureError;
};

struct TPictureFormat {
    std::string Extension;   // without the dot, lower case
    std::string Description; // as the open dialog lists it
};

// What a picture brings besides its raster.
struct TPictureExtras {
    TLinearPlane Linear;     // empty unless the source has more than 8 bits per sample
    TFileSetupValues Setup;  // from a FITS header or a camera RAW's EXIF
    // In: how the caller wants stored values read as light. Out: the curve
    // used. When it is not linear, Linear holds the picture's light as
    // floats on the stored values' scale (0 .. 255, or 0 .. 65535), with the
    // samples clipped as stored recorded in its clip mask; the raster keeps
    // the stored values.
    TTransferChoice Choice;
    TTransfer Transfer;
    // Set by a reader: the file's own declaration, if any; and whether its
    // samples are light by definition (FITS, camera RAW), whatever is chosen.
    std::optional<TTransfer> Declared;
    bool HoldsLight = false;
    // In: the file is a dark, flat or flat-dark frame, applied in light:
    // an 8-bit picture's stored values become a plane even when linear.
    bool AsFrame = false;
};

// The registered formats in registration order.
const std::vector<TPictureFormat>& RegisteredPictureFormats();

// Formats read beside the registered ones (FITS, camera RAW), in the order
// the dialog lists them after the registered ones.
const std::vector<TPictureFormat>& AddedPictureFormats();

// The open-picture dialog's filter in the "Text|*.ext|..." form, built from
// the list from the last registration to the first, headed by "All"; the
// added formats follow the registered ones, in "All" too.
std::string PictureOpenFilter();

// Decodes the file into `out`; on any failure throws EPictureError with a
// message naming the file and the problem and leaves `out` untouched.
// An unregistered extension gives "Unknown picture file extension (.%s)".
void LoadPicture(const std::string& path, TBitmap32& out);

// The same, also keeping the linear samples and the Setup values the file
// carries. One memory budget counts the file's copy, the decoder's buffers,
// the raster and the samples together. On a failure both `out` and
// `extras` are untouched.
void LoadPicture(const std::string& path, TBitmap32& out, TPictureExtras& extras);

// The same for a frame loaded beside a picture: the picture's bytes count
// against the one memory budget with the frame's, and a load that would
// exceed it is refused before it allocates, in held.Together's words ("The
// picture and the dark frame together need 4.6 GB; the limit is 2 GiB").
void LoadPicture(const std::string& path, TBitmap32& out, TPictureExtras& extras, const TMemoryHeld& held);

// Whether the reader the file's extension chooses may decode while another
// picture is decoded on another thread. Each reader keeps its state in its
// own handles (libpng, libjpeg, libtiff, LibRaw's reentrant build, lcms2's
// transforms) or takes a lock (GraphicsMagick); FITS only when cfitsio was
// built reentrant.
bool PictureReadsBesideOthers(const std::string& path);

// Loads a picture to replace the open one, of held.Bytes: both count
// against the budget, since the open one stays until the new one is read.
// When they do not fit together, `release` is asked to free the open one
// (it returns false when that would lose work, and the refusal stands) and
// the load is tried alone; a failure after the release says that the open
// picture was closed.
void LoadPictureInPlaceOf(const std::string& path, TBitmap32& out, TPictureExtras& extras, const TMemoryHeld& held,
                          const std::function<bool()>& release);

// Called with the path between a picture file's size check and the reads of
// its bytes (nothing when empty): where a test changes the file under the
// loader, which must then say "The file changed while it was read".
void SetPictureReadSeam(std::function<void(const std::string&)> seam);

} // namespace vinsk
