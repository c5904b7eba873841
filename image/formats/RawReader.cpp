// Camera RAW pictures through LibRaw, read from memory: linear output (gamma
// 1, no automatic brightening), 16 bits per sample, camera colours, and each
// 2x2 cell of the sensor as one pixel (half size) instead of demosaicing, so
// no interpolated colour ripple reaches the measurement. The raster takes the
// 16-bit samples as other 16-bit sources do. LibRaw's own handlers, which
// print, are replaced by silent ones.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include <libraw/libraw.h>

#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

void SilentData(void*, const char*, const int) {}
void SilentMemory(void*, const char*, const char*) {}

struct TImageFree {
    void operator()(libraw_processed_image_t* p) const { LibRaw::dcraw_clear_mem(p); }
};

void Check(int rc)
{
    if (rc != LIBRAW_SUCCESS)
        Fail(std::string("camera RAW error: ") + LibRaw::strerror(rc));
}

} // namespace

void DecodeRaw(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    // LibRaw's state is large; it lives on the heap.
    std::unique_ptr<LibRaw> raw;
    try {
        raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    } catch (const std::bad_alloc&) {
        Fail("not enough memory for the camera RAW reader");
    }
    raw->set_dataerror_handler(SilentData, nullptr);
    raw->set_memerror_handler(SilentMemory, nullptr);
    libraw_output_params_t& p = raw->imgdata.params;
    p.output_bps = 16;
    p.gamm[0] = 1.0;
    p.gamm[1] = 1.0;
    p.no_auto_bright = 1;
    p.half_size = 1;
    p.output_color = 0; // the camera's own colours, no matrix mixing channels
    p.max_raw_memory_mb = static_cast<unsigned>(limits.Room() >> 20);

    Check(raw->open_buffer(const_cast<std::uint8_t*>(data.data()), data.size()));
    const libraw_image_sizes_t& s = raw->imgdata.sizes;
    CheckRasterSize(s.raw_width, s.raw_height, limits);
    // Half size; the plane holds three 16-bit samples a pixel. While LibRaw
    // works it holds the sensor's 16-bit values, its four-channel picture
    // and the picture it hands out; then only the last stays beside the
    // raster and the plane.
    const std::uint64_t halfW = (s.width + 1u) / 2u, halfH = (s.height + 1u) / 2u;
    const std::uint64_t half = halfW * halfH;
    const std::uint64_t working = std::uint64_t{s.raw_width} * s.raw_height * 2u + half * (8u + 6u);
    CheckPictureSize(static_cast<std::int64_t>(halfW), static_cast<std::int64_t>(halfH), 6, limits,
                     std::max(working, half * 16u) - half * 10u);
    Check(raw->unpack());
    Check(raw->dcraw_process());
    int rc = LIBRAW_SUCCESS;
    const std::unique_ptr<libraw_processed_image_t, TImageFree> img(raw->dcraw_make_mem_image(&rc));
    Check(rc);
    if (!img || img->type != LIBRAW_IMAGE_BITMAP || img->bits != 16 || (img->colors != 3 && img->colors != 1))
        Fail("camera RAW error: LibRaw gave no 16-bit picture");
    const int channels = img->colors;
    const libraw_imgother_t other = raw->imgdata.other;
    raw->recycle(); // the picture handed out is all that is read from now on
    CheckPictureSize(img->width, img->height, static_cast<std::uint64_t>(channels) * 2u, limits,
                     std::uint64_t{img->data_size});

    TLinearPlane plane;
    if (extras != nullptr)
        AllocatePlane16(plane, img->width, img->height, channels, 16);
    TBitmap32 bmp;
    AllocateRaster(bmp, img->width, img->height, limits);
    const std::size_t pixels = std::size_t{img->width} * img->height;
    std::uint16_t v[3] = {};
    for (std::size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < channels; ++c) {
            // In the machine's byte order, possibly unaligned.
            std::memcpy(&v[c], img->data + (i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)) * 2, 2);
            if (extras != nullptr)
                plane.U16()[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = v[c];
        }
        bmp.Bits()[i] = channels == 3 ? Opaque(Scale16(v[0]), Scale16(v[1]), Scale16(v[2]))
                                      : Opaque(Scale16(v[0]), Scale16(v[0]), Scale16(v[0]));
    }

    if (extras != nullptr) {
        const libraw_imgother_t& o = other;
        if (o.shutter > 0)
            extras->Setup.ExposureSeconds = static_cast<double>(o.shutter);
        if (o.focal_len > 0)
            extras->Setup.FocalMm = static_cast<double>(o.focal_len);
        // LibRaw turns the camera's clock reading into a time_t as local
        // time; turned back the same way it is the camera's own reading.
        if (o.timestamp > 0) {
            std::tm tm{};
            char text[32];
            if (localtime_r(&o.timestamp, &tm) && std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm) > 0)
                extras->Setup.ExposureStart = text;
        }
        extras->Linear.Swap(plane);
    }
    out.Swap(bmp);
}

} // namespace vinsk::formats
