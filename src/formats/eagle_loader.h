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

// How Eagle shows a text: its own rotation combined with its part's (part_mirror,
// part_angle; none for sheet texts and an instance's own attribute texts).
// Mirroring moves the text and flips its alignment but never draws it
// backwards; unless the text spins, one whose angle is over 90 and at most 270
// degrees is turned by 180 with its alignment flipped, so it reads from the left
// or from below. The angle is in 0..360, counter-clockwise.
struct EagleTextPose {
    double angle = 0;
    int h_justify = -1;
    int v_justify = 1;
};
EagleTextPose eagleTextPose(const EagleRotation& text, const EagleAlign& align, bool part_mirror = false,
                            double part_angle = 0);

// The points of a wire from a to b bent by `curve` degrees (positive: counter-clockwise).
std::vector<Point> eagleArc(Point a, Point b, double curve);

}  // namespace nl
