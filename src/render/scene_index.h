// Where each drawn item of a design lies, sheet by sheet, so that a paint or
// a hit test visits what is near a rectangle instead of the whole sheet. Built
// once per opened design; the design must not change afterwards.
#pragma once

#include <cstdint>
#include <vector>

#include "model/model.h"

namespace nl {

struct Settings;

// Indices into the Schematic's sequences, each list ascending.
struct SceneItems {
    std::vector<int32_t> graphics;  // Schematic::graphics (sheet drawings)
    std::vector<int32_t> sheet_symbols;
    std::vector<int32_t> wires;
    std::vector<int32_t> junctions;
    std::vector<int32_t> no_connects;
    std::vector<int32_t> bus_entries;
    std::vector<int32_t> components;
    std::vector<int32_t> labels;
    std::vector<int32_t> texts;
};

// The items a layer visits: every one of the sequence, or only those an index
// picked (ascending, so drawing order is kept).
class Picked {
public:
    Picked(size_t size, const std::vector<int32_t>* chosen) : size_(size), chosen_(chosen) {}
    class iterator {
    public:
        iterator(const Picked* p, size_t k) : p_(p), k_(k) {}
        size_t operator*() const { return p_->chosen_ ? static_cast<size_t>((*p_->chosen_)[k_]) : k_; }
        iterator& operator++() { return ++k_, *this; }
        bool operator!=(const iterator& o) const { return k_ != o.k_; }

    private:
        const Picked* p_;
        size_t k_;
    };
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, chosen_ ? chosen_->size() : size_}; }

private:
    size_t size_;
    const std::vector<int32_t>* chosen_;
};

// The same, handing out the records themselves.
template <class T>
class PickedItems {
public:
    PickedItems(const std::vector<T>& all, const std::vector<int32_t>* chosen)
        : all_(all), indices_(all.size(), chosen) {}
    class iterator {
    public:
        iterator(const std::vector<T>& all, Picked::iterator at) : all_(all), at_(at) {}
        const T& operator*() const { return all_[*at_]; }
        iterator& operator++() { return ++at_, *this; }
        bool operator!=(const iterator& o) const { return at_ != o.at_; }

    private:
        const std::vector<T>& all_;
        Picked::iterator at_;
    };
    iterator begin() const { return {all_, indices_.begin()}; }
    iterator end() const { return {all_, indices_.end()}; }

private:
    const std::vector<T>& all_;
    Picked indices_;
};

template <class T>
PickedItems<T> picked(const std::vector<T>& all, const SceneItems* only, std::vector<int32_t> SceneItems::*list) {
    return {all, only ? &(only->*list) : nullptr};
}

inline Picked pickedIndices(size_t size, const SceneItems* only, std::vector<int32_t> SceneItems::*list) {
    return {size, only ? &(only->*list) : nullptr};
}

class SceneIndex {
public:
    // Text and stroke extents are estimated for these settings' font_scale and
    // glow (never less than the defaults); see covers().
    SceneIndex(const Schematic& s, const Settings& settings);

    // Every item on `sheet` whose drawn extent meets `area`; an item may be
    // listed although only its margin reaches the area, never left out while
    // anything of it shows there.
    void query(int sheet, const BBox& area, SceneItems& out) const;

    // False when these settings draw texts or halos larger than the index
    // allowed for; such a paint must not rely on the index.
    bool covers(const Settings& settings) const;

private:
    enum Kind : uint8_t { kGraphic, kSheetSymbol, kWire, kJunction, kNoConnect, kBusEntry, kComponent, kLabel, kText };
    struct Entry {
        BBox box;
        int32_t index;
        Kind kind;
    };
    struct Grid {
        BBox bounds;
        double cell = 1;
        int cols = 0, rows = 0;
        std::vector<uint32_t> cell_start;  // entries of cell c: slots cell_start[c] .. cell_start[c + 1]
        std::vector<uint32_t> slots;       // indices into entries
        std::vector<uint32_t> large;       // entries too big (or too far out) for the grid, checked one by one
        std::vector<Entry> entries;        // in kind order, then index order
    };

    void build(Grid& grid);

    double font_scale_;
    double glow_;
    std::vector<Grid> sheets_;
};

}  // namespace nl
