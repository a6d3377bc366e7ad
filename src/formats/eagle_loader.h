// Eagle XML schematics (.sch): parts, sheets and their explicit nets.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace nl {

// The finished design (format "eagle", nets filled, y flipped to sheet space),
// or an empty pointer with the message in *error (when error is not null).
std::shared_ptr<Schematic> loadEagleSchematic(std::string_view text, const std::string& path, std::string* error);

// Eagle geometry helpers, in Eagle's y-up millimetres.

struct EagleRotation {
    bool spin = false;
    bool mirror = false;
    double angle = 0;
};
// "[S][M][R]angle", e.g. "MR90"; a missing or unreadable angle is 0.
EagleRotation parseEagleRotation(std::string_view text);

// Rotates counter-clockwise by `angle` degrees, then negates x when mirrored.
Point eagleTransform(Point p, bool mirror, double angle);

struct EagleAlign {
    int h_justify = -1;
    int v_justify = 1;
};
// "bottom-left" (the default), "top-center", "center", ...
EagleAlign parseEagleAlign(std::string_view text);

// The points of a wire from a to b bent by `curve` degrees (positive: counter-clockwise).
std::vector<Point> eagleArc(Point a, Point b, double curve);

}  // namespace nl
