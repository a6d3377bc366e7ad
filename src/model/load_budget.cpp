#include "model/load_budget.h"

#include <algorithm>
#include <cstdio>

namespace nl {

size_t LoadBudget::limit() const { return std::max(kFloor, input_bytes / kBytesPerRecord); }

bool LoadBudget::charge(size_t records) {
    if (exceeded) return false;
    if (records > limit() - std::min(used, limit())) {
        exceeded = true;
        return false;
    }
    used += records;
    return true;
}

std::string LoadBudget::message() const {
    char size[32];
    std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(input_bytes) / 1e6);
    return "Design too large: it would need more than " + std::to_string(limit()) +
           " pins, drawing items, bus members and other records, the limit for " + size +
           " of schematic files; it was not opened";
}

namespace {
constexpr size_t kTextBytesPerRecord = 64;
}

size_t recordsOf(const GraphicItem& item) { return 1 + item.points.size() + item.text.size() / kTextBytesPerRecord; }

size_t recordsOf(const LibPin& pin) {
    return 1 + (pin.name.size() + pin.number.size() + pin.type.size() + pin.shape.size()) / kTextBytesPerRecord;
}

bool farOff(const GraphicItem& item) {
    if (farOff(item.radius) || farOff(item.width) || farOff(item.size)) return true;
    for (const Point& p : item.points)
        if (farOff(p)) return true;
    return false;
}

std::string farItemsWarning(size_t count) {
    return std::to_string(count) + (count == 1 ? " item lies" : " items lie") +
           " more than a kilometre from the sheet's origin (or is that large) and " + (count == 1 ? "was" : "were") +
           " left out";
}

}  // namespace nl
