// A picture and its frames read ahead at once, on threads of their own, and
// taken in the order the serial loads would make them: each taken load is
// exactly what LoadPicture would give at that moment, raster, samples and
// failure alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/Bitmap32.h"
#include "image/MemoryBudget.h"
#include "image/formats/Picture.h"

namespace vinsk {

struct TPictureRead {
    std::string Path;
    TTransferChoice Choice; // as TPictureExtras::Choice
    bool AsFrame = false;   // as TPictureExtras::AsFrame
};

class TPictureReads {
public:
    // Starts every read at once when there are several, each within an equal
    // share of the memory budget, so that all of them together stay within
    // it. A file whose reader is not safe beside another is read only when
    // taken.
    explicit TPictureReads(std::vector<TPictureRead> reads);
    // Waits for the reads still running.
    ~TPictureReads();
    TPictureReads(const TPictureReads&) = delete;
    TPictureReads& operator=(const TPictureReads&) = delete;

    // LoadPicture(reads[i].Path, out, extras, held), extras' Choice and
    // AsFrame being the read's: the early read when it succeeded with at
    // least as much of the budget as `held` leaves, the file read now
    // otherwise (a failure is always read again, so that it says what the
    // load with `held` says). Each read is taken once.
    void Take(std::size_t i, TBitmap32& out, TPictureExtras& extras, const TMemoryHeld& held);

    // The bytes held by early reads not yet taken: waiting for them, or
    // counting a read still running as its whole share. And their release
    // (waiting for them): a later Take then reads its file itself.
    std::uint64_t HeldBytes(bool wait);
    void Release();

    // How many reads ran ahead on threads (for the tests and benchmarks).
    std::size_t ReadAhead() const;

private:
    struct TSlot;
    std::vector<std::unique_ptr<TSlot>> FSlots;
};

} // namespace vinsk
