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

// Where one step of -1, 0 or +1 along an axis leads: the neighbour index after the
// periodic wrap, the image shift that the wrap implies (in units of the domain size), and
// whether the step exists at all (not through a reflecting floor or ceiling).
struct AxisStep {
    int32_t index = 0;
    int8_t ghost = 0;
    bool exists = true;
    double ghostShift = 0.0;  // the ghost as a double, ready for the image arithmetic
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

// Calls visit(cell, ghost) for the occupied neighbour cells of (ix, iy, iz), own cell
// included, with dx outermost and dz innermost, each running -1, 0, +1. With one or two
// cells per axis the same cell comes back under different image shifts; that is how a
// small grid reaches the periodic images of its particles.
template <typename Visit>
inline void forEachNeighborCell(int32_t ix, int32_t iy, int32_t iz, Visit&& visit) {
    const AxisStep* sx = &grid.stepsXY[static_cast<size_t>(3 * ix)];
    const AxisStep* sy = &grid.stepsXY[static_cast<size_t>(3 * iy)];
    const AxisStep* sz = &grid.stepsZ[static_cast<size_t>(3 * iz)];
    const int32_t n = grid.n;
    const int32_t words = grid.occupiedWordsPerColumn;
    // Where the occupancy bits of the three z neighbours live; they are the same for all
    // nine columns. Away from the wrap and from word edges they are three adjacent bits.
    const int32_t z0 = sz[0].index, z1 = sz[1].index, z2 = sz[2].index;
    const bool adjacentBits = z0 + 1 == z1 && z1 + 1 == z2 && (z0 >> 6) == (z2 >> 6) && sz[0].exists && sz[2].exists;
    const uint64_t exists = (sz[0].exists ? 1u : 0u) | 2u | (sz[2].exists ? 4u : 0u);
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            const int32_t column = sx[a].index * n + sy[b].index;
            const uint64_t* bits = &grid.occupied[static_cast<size_t>(column * words)];
            uint64_t occupied;
            if (adjacentBits) {
                occupied = (bits[z0 >> 6] >> (z0 & 63)) & 7u;
            } else {
                occupied = (((bits[z0 >> 6] >> (z0 & 63)) & 1u) | (((bits[z1 >> 6] >> (z1 & 63)) & 1u) << 1) |
                            (((bits[z2 >> 6] >> (z2 & 63)) & 1u) << 2)) &
                           exists;
            }
            while (occupied != 0) {
                const int c = std::countr_zero(occupied);
                occupied &= occupied - 1;
                visit(grid.cells[static_cast<size_t>(column * n + sz[c].index)],
                      Vec3{sx[a].ghostShift, sy[b].ghostShift, sz[c].ghostShift});
            }
        }
    }
}
