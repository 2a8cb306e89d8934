#pragma once
// Items filed under every cube of a uniform grid that their bounding box touches, for nearest-item
// queries: the search visits the cubes ring by ring outwards from the query's own and stops once
// nothing outside the searched block can be nearer.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <unordered_map>
#include <vector>

template <typename Item>
class TCellGrid {
public:
    struct Nearest {
        double distance = std::numeric_limits<double>::infinity();
        const Item* item = nullptr;  // null when nothing lies within the searched rings
    };

    // maxRing bounds the search for a query far from every item.
    TCellGrid(double cellSize, int maxRing) : cell(cellSize), rings(maxRing) {}

    void Add(const double lo[3], const double hi[3], const Item& item)
    {
        for (long long i = Cell(lo[0]); i <= Cell(hi[0]); ++i)
            for (long long j = Cell(lo[1]); j <= Cell(hi[1]); ++j)
                for (long long k = Cell(lo[2]); k <= Cell(hi[2]); ++k)
                    cells[Key(i, j, k)].push_back(item);
    }

    // The item with the least distance(item) from p; distance must be the Euclidean distance from p
    // to some point inside the item's box, or the stopping rule would skip nearer items.
    template <typename Distance>
    Nearest Find(const double p[3], Distance&& distance) const
    {
        const long long c[3] = {Cell(p[0]), Cell(p[1]), Cell(p[2])};
        Nearest best;
        for (int ring = 0; ring < rings; ++ring) {
            for (long long i = c[0] - ring; i <= c[0] + ring; ++i)
                for (long long j = c[1] - ring; j <= c[1] + ring; ++j)
                    for (long long k = c[2] - ring; k <= c[2] + ring; ++k) {
                        if (std::max({std::llabs(i - c[0]), std::llabs(j - c[1]), std::llabs(k - c[2])}) != ring)
                            continue;
                        const auto it = cells.find(Key(i, j, k));
                        if (it == cells.end())
                            continue;
                        for (const Item& item : it->second) {
                            const double d = distance(item);
                            if (d < best.distance)
                                best = {d, &item};
                        }
                    }
            // Every item outside the searched block lies at least `ring` cells away.
            if (best.item != nullptr && best.distance <= ring * cell)
                break;
        }
        return best;
    }

private:
    long long Cell(double v) const { return static_cast<long long>(std::floor(v / cell)); }
    static long long Key(long long i, long long j, long long k) { return (i * 73856093LL) ^ (j * 19349663LL) ^ (k * 83492791LL); }

    double cell;
    int rings;
    std::unordered_map<long long, std::vector<Item>> cells;
};
