// A paint device that records QPainter drawing as metafile records, for
// writing as WMF or EMF. Its page is Width x Height pixels at 96 dpi.
//
// Drawn as GDI would: solid brushes (a gradient gives its first colour),
// pens in the five GDI dash styles, one clip rectangle at a time (a region
// or path clips to its bounding rectangle), no alpha blending except for
// images, which are laid over white.
#pragma once

#include <memory>

#include <QPaintDevice>

#include "graphics/MetafileRecords.h"

namespace vinsk::metafile {

class TMetafileEngine;

class TMetafileDevice : public QPaintDevice {
public:
    TMetafileDevice(int width, int height);
    ~TMetafileDevice() override;
    TMetafileDevice(const TMetafileDevice&) = delete;
    TMetafileDevice& operator=(const TMetafileDevice&) = delete;

    QPaintEngine* paintEngine() const override;

    // The records so far; complete once the painter has ended.
    const TMetafile& Metafile() const { return FMetafile; }
    TMetafile& Metafile() { return FMetafile; }

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    TMetafile FMetafile;
    std::unique_ptr<TMetafileEngine> FEngine;
};

} // namespace vinsk::metafile
