#include "media/Placement.h"

namespace fsv::media {

ScaleFactors scaleFactors(int width, int height) {
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    ScaleFactors f;
    if (width < 640) {
        f.horizontal = w * 0.00625f;
        f.vertical = h * 0.008333334f;
    } else if (height == 240) {
        f.vertical = 1;
        if (width == 640) {
            f.horizontal = 1;
            return f;
        }
        f.horizontal = w * 0.0015625f;
    } else if (width <= 640 || height != 288) {
        f.horizontal = w * 0.00625f;
        f.vertical = h * 0.008333334f;
    } else {
        f.vertical = 1.2f;
        f.horizontal = w * 0.0015625f;
    }
    if (f.horizontal == f.vertical) {
        f.horizontal = f.vertical = 1;
    } else if (f.horizontal > f.vertical) {
        f.vertical = f.vertical / f.horizontal;
        f.horizontal = 1;
    } else {
        f.horizontal = f.horizontal / f.vertical;
        f.vertical = 1;
    }
    return f;
}

Placement placePicture(int clientWidth, int clientHeight, ScaleFactors factors) {
    Placement p;
    if (factors.vertical == 0 || clientWidth <= 0 || clientHeight <= 0) return p;
    const int c = static_cast<int>(static_cast<float>(clientWidth) * factors.horizontal + 0.5f);
    const int d = static_cast<int>(static_cast<float>(clientHeight) * factors.vertical + 0.5f);
    const unsigned mx = static_cast<unsigned>(clientWidth - c);
    const unsigned my = static_cast<unsigned>(clientHeight - d);
    p.x = static_cast<int>(mx / 2) + 1;
    p.y = static_cast<int>(my / 2) + 1;
    p.width = c - 2;
    p.height = d - 2;
    p.paintBackground = clientWidth - c > 1 || clientHeight - d > 1;
    return p;
}

}  // namespace fsv::media
