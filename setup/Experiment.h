// The nine experiment parameters, in SI units (the mount speed in arc seconds
// per second). Written only through their Setup fields.
#pragma once

namespace vinsk {

struct TExperiment {
    double StarDistance = 10;        // m
    double PixelWidth = 0.0000057;   // m
    double PixelHeight = 0.0000057;  // m
    double SensorWidth = 0.0222;     // m
    double SensorHeight = 0.0148;    // m
    double FocalLength = 0.4;        // m
    double LensDiameter = 0.04;      // m
    double ExposureTime = 480;       // s
    double MountSpeed = 15;          // arc seconds per second

    bool operator==(const TExperiment&) const = default;
};

} // namespace vinsk
