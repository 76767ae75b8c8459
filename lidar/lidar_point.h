#pragma once

// One generated return, metres.
struct LidarPoint {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};
