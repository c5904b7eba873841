#include "image/formats/PictureReads.h"

#include <atomic>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "image/FrameCalibration.h"

namespace vinsk {

struct TPictureReads::TSlot {
    TPictureRead Read;
    std::thread Thread;
    // Written by the thread, read after it is joined.
    TBitmap32 Bitmap;
    TPictureExtras Extras;
    bool Ok = false;
    std::uint64_t HeldWith = 0; // what the early read left room for beside it
    std::uint64_t Share = 0;
    bool Ahead = false;
    bool Taken = false;
    std::atomic<bool> Done{false};

    void Join()
    {
        if (Thread.joinable())
            Thread.join();
    }

    void Free()
    {
        TBitmap32().Swap(Bitmap);
        Extras.Linear.Release();
        Ok = false;
    }
};

TPictureReads::TPictureReads(std::vector<TPictureRead> reads)
{
    std::size_t ahead = 0;
    for (TPictureRead& r : reads) {
        auto slot = std::make_unique<TSlot>();
        slot->Ahead = reads.size() > 1 && PictureReadsBesideOthers(r.Path);
        ahead += slot->Ahead ? 1 : 0;
        slot->Read = std::move(r);
        FSlots.push_back(std::move(slot));
    }
    if (ahead < 2) {
        for (auto& slot : FSlots)
            slot->Ahead = false;
        return;
    }
    // Each read ahead may hold its share; the others' shares count as held.
    const std::uint64_t held = MemoryBudget - MemoryBudget / ahead;
    for (auto& owned : FSlots) {
        TSlot* slot = owned.get();
        if (!slot->Ahead)
            continue;
        slot->HeldWith = held;
        slot->Share = MemoryBudget - held;
        slot->Extras.Choice = slot->Read.Choice;
        slot->Extras.AsFrame = slot->Read.AsFrame;
        try {
            slot->Thread = std::thread([slot] {
                try {
                    LoadPicture(slot->Read.Path, slot->Bitmap, slot->Extras, TMemoryHeld{slot->HeldWith, {}});
                    slot->Ok = true;
                } catch (...) {
                    // Read again when taken, with the caller's budget and words.
                }
                slot->Done.store(true, std::memory_order_release);
            });
        } catch (const std::system_error&) {
            slot->Ahead = false; // no thread to spare: read when taken
        }
    }
}

TPictureReads::~TPictureReads()
{
    for (auto& slot : FSlots)
        slot->Join();
}

void TPictureReads::Take(std::size_t i, TBitmap32& out, TPictureExtras& extras, const TMemoryHeld& held)
{
    TSlot& slot = *FSlots.at(i);
    if (slot.Taken)
        throw std::logic_error("a picture read taken twice");
    slot.Taken = true;
    slot.Join();
    extras.Choice = slot.Read.Choice;
    extras.AsFrame = slot.Read.AsFrame;
    if (!slot.Ok || held.Bytes > slot.HeldWith) {
        // The serial load: its failure, or a success that the early read's
        // smaller room could not give.
        slot.Free();
        LoadPicture(slot.Read.Path, out, extras, held);
        return;
    }
    // As LoadPicture hands over its result: the caller's outer colour kept.
    slot.Bitmap.SetOuterColor(out.OuterColor());
    out.Swap(slot.Bitmap);
    extras.Linear.Swap(slot.Extras.Linear);
    extras.Setup = slot.Extras.Setup;
    extras.Transfer = slot.Extras.Transfer;
    extras.Declared = slot.Extras.Declared;
    extras.HoldsLight = slot.Extras.HoldsLight;
    slot.Free(); // what the caller held before
}

std::uint64_t TPictureReads::HeldBytes(bool wait)
{
    std::uint64_t bytes = 0;
    for (auto& slot : FSlots) {
        if (slot->Taken || !slot->Ahead)
            continue;
        if (!wait && !slot->Done.load(std::memory_order_acquire)) {
            bytes += slot->Share;
            continue;
        }
        slot->Join();
        if (slot->Ok)
            bytes += RasterBytes(slot->Bitmap) + slot->Extras.Linear.Bytes();
    }
    return bytes;
}

void TPictureReads::Release()
{
    for (auto& slot : FSlots) {
        if (slot->Taken || !slot->Ahead)
            continue;
        slot->Join();
        slot->Free();
    }
}

std::size_t TPictureReads::ReadAhead() const
{
    std::size_t n = 0;
    for (const auto& slot : FSlots)
        n += slot->Ahead ? 1 : 0;
    return n;
}

} // namespace vinsk
