#pragma once
// How a decoded picture is fitted into a display panel: two scale factors (the share of the
// panel's width and height that the picture fills) and the placement rectangle inside the panel.

namespace fsv::media {

struct ScaleFactors {
    float horizontal = 0;  // both 0 until the first frame's size is known
    float vertical = 0;
};

// Factors for a W x H picture. 4:3 pictures (and the single-field 640 x 240) fill the panel;
// 352 x 288 and its relatives fill the height and 11/12 of the width, and so on.
ScaleFactors scaleFactors(int width, int height);

struct Placement {
    int x = 0, y = 0, width = 0, height = 0;  // a one-pixel border inside the picture area
    bool paintBackground = false;             // a margin of more than one pixel is left
};

// Placement of a picture with `factors` in a client area of clientWidth x clientHeight.
Placement placePicture(int clientWidth, int clientHeight, ScaleFactors factors);

}  // namespace fsv::media
