#pragma once
// The uniform grid of n x n x n cubic cells. Collision partners are searched only in the
// 27 cells around a particle's own (fewer next to a reflecting floor or ceiling).

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "util/large_vector.h"
#include "util/vec3.h"

// A cell's particle list keeps its first entries inline, so that the collision search
// finds the occupants of a neighbour cell in the grid array itself instead of behind a
// pointer; a crowded cell continues its list in an overflow list of the grid. With cells
// about one diameter wide a cell rarely holds more than two particles, and 16-byte cells
// let a column of three neighbours share one cache line.
inline constexpr int32_t INLINE_SLOTS = 2;

struct Cell {
    int32_t count = 0;      // length of the particle list
    int32_t overflow = -1;  // index into CellGrid::overflowLists, once one is needed
    int32_t slots[INLINE_SLOTS] = {};
};

// Image shifts are whole domain lengths (-1, 0 or +1 per axis), so they are kept as small
// integers: the heap moves events around constantly and a smaller record moves faster.
struct ImageShift {
    int8_t x = 0, y = 0, z = 0;
};

inline Vec3 toVec3(ImageShift s) { return Vec3{double(s.x), double(s.y), double(s.z)}; }

// Where one step of -1, 0 or +1 along an axis leads: the neighbour index after the
// periodic wrap, the image shift that the wrap implies (in units of the domain size), and
// whether the step exists at all (not through a reflecting floor or ceiling).
struct AxisStep {
    int32_t index = 0;
    int8_t ghost = 0;
    bool exists = true;
    double shift = 0.0;  // ghost times the domain size, ready for the image arithmetic
};

struct CellGrid {
    int32_t n = 0;
    double cellSize = 0.0;
    LargeVector<Cell> cells;  // cell (ix, iy, iz) at (ix * n + iy) * n + iz
    std::vector<std::vector<int32_t>> overflowLists;
    // One bit per cell, set while the cell holds a particle, by column (ix, iy) and then iz
    // in words of 64: most cells of a dilute gas are empty, and the bits let the collision
    // search pass over them without touching the cells themselves.
    LargeVector<uint64_t> occupied;
    int32_t occupiedWordsPerColumn = 0;
    // Steps of index i by d in {-1, 0, +1} at [3 * i + d + 1]; x and y share stepsXY.
    std::vector<AxisStep> stepsXY, stepsZ;
};

extern CellGrid grid;

void resetCellGrid();

struct CellIndices {
    int32_t x = 0, y = 0, z = 0;
};

inline int32_t cellIndex(int32_t ix, int32_t iy, int32_t iz) { return (ix * grid.n + iy) * grid.n + iz; }

inline int32_t cellParticle(const Cell& cell, int32_t slot) {
    return slot < INLINE_SLOTS ? cell.slots[slot]
                               : grid.overflowLists[static_cast<size_t>(cell.overflow)]
                                                   [static_cast<size_t>(slot - INLINE_SLOTS)];
}

inline double cellLower(int32_t index) { return index * grid.cellSize; }
inline double cellUpper(int32_t index) { return (index + 1) * grid.cellSize; }

void initCells();
void assignParticlesToCells();
// The cell holding a point; a point on a face belongs to the cell it is moving into.
CellIndices cellOf(double x, double y, double z, double vx, double vy, double vz);
void moveParticleToCell(int32_t p, CellIndices from, CellIndices to);

// The 27 cells around (ix, iy, iz), own cell included, as bits k = 9 a + 3 b + c for the step
// (a - 1, b - 1, c - 1): ascending bits run with dx outermost and dz innermost. With one or
// two cells per axis the same cell comes back under different image shifts; that is how a
// small grid reaches the periodic images of its particles.
struct Neighborhood {
    uint32_t occupied = 0;  // the bits of the cells that hold a particle and exist
    int32_t column[9] = {};  // where the cells of column 3 a + b begin in the grid array
    const AxisStep* sx = nullptr;
    const AxisStep* sy = nullptr;
    const AxisStep* sz = nullptr;

    // The steps a, b and c of bit k, by table: the divisions by 3 and 9 cost more.
    static constexpr int8_t A[27] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    static constexpr int8_t AB[27] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8};
    static constexpr int8_t B[27] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 0, 0, 0, 1, 1, 1, 2, 2, 2, 0, 0, 0, 1, 1, 1, 2, 2, 2};
    static constexpr int8_t C[27] = {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2};

    const Cell& cell(int k) const { return grid.cells[static_cast<size_t>(column[AB[k]] + sz[C[k]].index)]; }
    ImageShift ghost(int k) const { return ImageShift{sx[A[k]].ghost, sy[B[k]].ghost, sz[C[k]].ghost}; }
    Vec3 shift(int k) const { return Vec3{sx[A[k]].shift, sy[B[k]].shift, sz[C[k]].shift}; }
};

// One pass over the nine columns' occupancy bits gives all 27 bits at once, so that the
// search then loops only over the occupied cells (about five in a gas at packing fraction
// 0.1) instead of testing nine columns one by one.
inline Neighborhood neighborhoodOf(int32_t ix, int32_t iy, int32_t iz) {
    Neighborhood h;
    h.sx = &grid.stepsXY[static_cast<size_t>(3 * ix)];
    h.sy = &grid.stepsXY[static_cast<size_t>(3 * iy)];
    h.sz = &grid.stepsZ[static_cast<size_t>(3 * iz)];
    const int32_t n = grid.n;
    const int32_t words = grid.occupiedWordsPerColumn;
    // Where the occupancy bits of the three z neighbours live; they are the same for all
    // nine columns. Away from the wrap and from word edges they are three adjacent bits.
    const AxisStep* sz = h.sz;
    const int32_t z0 = sz[0].index, z1 = sz[1].index, z2 = sz[2].index;
    int32_t column[9];
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) column[3 * a + b] = h.sx[a].index * n + h.sy[b].index;
    }
    for (int c = 0; c < 9; ++c) h.column[c] = column[c] * n;
    const uint64_t* occupied = grid.occupied.data();
    if (z0 + 1 == z1 && z1 + 1 == z2 && (z0 >> 6) == (z2 >> 6) && sz[0].exists && sz[2].exists) {
        const int32_t word = z0 >> 6, shift = z0 & 63;
        for (int c = 0; c < 9; ++c) {
            const uint64_t bits = occupied[static_cast<size_t>(column[c] * words + word)];
            h.occupied |= static_cast<uint32_t>((bits >> shift) & 7u) << (3 * c);
        }
    } else {
        const uint64_t exists = (sz[0].exists ? 1u : 0u) | 2u | (sz[2].exists ? 4u : 0u);
        for (int c = 0; c < 9; ++c) {
            const uint64_t* bits = &occupied[static_cast<size_t>(column[c] * words)];
            const uint64_t three = ((bits[z0 >> 6] >> (z0 & 63)) & 1u) | (((bits[z1 >> 6] >> (z1 & 63)) & 1u) << 1) |
                                   (((bits[z2 >> 6] >> (z2 & 63)) & 1u) << 2);
            h.occupied |= static_cast<uint32_t>(three & exists) << (3 * c);
        }
    }
    return h;
}

// Calls visit(cell, ghost) for the occupied neighbour cells of (ix, iy, iz) in the order of
// their bits in Neighborhood.
template <typename Visit>
inline void forEachNeighborCell(int32_t ix, int32_t iy, int32_t iz, Visit&& visit) {
    const Neighborhood h = neighborhoodOf(ix, iy, iz);
    for (uint32_t bits = h.occupied; bits != 0; bits &= bits - 1) {
        const int k = std::countr_zero(bits);
        visit(h.cell(k), h.ghost(k));
    }
}
