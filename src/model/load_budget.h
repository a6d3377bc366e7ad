// How much one load may create. A design's records grow with its files,
// except where one piece of text is used over and over: a symbol placed
// thousands of times, a sheet used by many sheet symbols, a pin wired to
// thousands of pads, a bus label standing for a thousand signals. A small file
// built that way could ask for more memory than any machine has, so every
// loader charges what it copies against one budget that grows with the bytes
// of the design's files, above a floor no real design comes near.
#pragma once

#include <cstddef>
#include <string>

#include "model/model.h"

namespace nl {

struct LoadBudget {
    // Records allowed whatever the files' size, and one more per this many
    // bytes of them. A record (a pin, say) takes about 200 bytes of memory;
    // real designs use a few hundredths of their allowance.
    static constexpr size_t kFloor = 1'000'000;
    static constexpr size_t kBytesPerRecord = 4;

    size_t input_bytes = 0;  // bytes of the distinct files read so far
    size_t used = 0;         // records charged so far
    bool exceeded = false;
    size_t far_items = 0;  // items left out for lying beyond kMaxCoordinate

    explicit LoadBudget(size_t bytes = 0) : input_bytes(bytes) {}

    size_t limit() const;
    // Counts `records` about to be made; false, from then on, once the limit
    // is passed (the caller then leaves them out).
    bool charge(size_t records);
    // Names the limit and the design's size.
    std::string message() const;
};

// What copying one item costs: itself, each of its points, and its texts at
// one record per 64 bytes (a long text copied a thousand times weighs too).
size_t recordsOf(const GraphicItem& item);
size_t recordsOf(const LibPin& pin);

// Coordinates, sizes and radii beyond this many millimetres (a kilometre)
// belong to no drawing; items holding one are left out with a warning.
inline constexpr double kMaxCoordinate = 1e6;

inline bool farOff(double v) { return !(v >= -kMaxCoordinate && v <= kMaxCoordinate); }
inline bool farOff(Point p) { return farOff(p.x) || farOff(p.y); }
bool farOff(const GraphicItem& item);

// The warning for `count` items left out by farOff.
std::string farItemsWarning(size_t count);

}  // namespace nl
