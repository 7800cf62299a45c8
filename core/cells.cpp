#include "core/cells.h"

#include <cmath>

#include "core/particles.h"
#include "core/simulation_config.h"

CellGrid grid;

void resetCellGrid() { grid = CellGrid{}; }

static std::vector<AxisStep> axisSteps(int32_t n, bool wallsAtEnds, double length) {
    std::vector<AxisStep> steps(static_cast<size_t>(3 * n));
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t d = -1; d <= 1; ++d) {
            AxisStep s;
            s.index = i + d;
            if (s.index < 0) {
                s.index += n;
                s.ghost = -1;
            } else if (s.index >= n) {
                s.index -= n;
                s.ghost = +1;
            }
            // No neighbours through the floor or the ceiling.
            s.exists = !(wallsAtEnds && ((i == 0 && s.ghost == -1) || (i == n - 1 && s.ghost == +1)));
            s.shift = s.ghost * length;
            steps[static_cast<size_t>(3 * i + d + 1)] = s;
        }
    }
    return steps;
}

void initCells() {
    grid.n = config.cells_per_dimension;
    grid.cellSize = config.cellSize;
    const size_t total = static_cast<size_t>(grid.n) * static_cast<size_t>(grid.n) * static_cast<size_t>(grid.n);
    grid.cells.assign(total, Cell{});
    grid.overflowLists.clear();
    grid.occupiedWordsPerColumn = (grid.n + 63) / 64;
    grid.occupied.assign(static_cast<size_t>(grid.n) * static_cast<size_t>(grid.n) *
                             static_cast<size_t>(grid.occupiedWordsPerColumn),
                         0);
    grid.stepsXY = axisSteps(grid.n, false, config.domain_size);
    grid.stepsZ = axisSteps(grid.n, config.reflective_z, config.domain_size);
}

static void setOccupied(CellIndices c, bool occupied) {
    const int32_t column = c.x * grid.n + c.y;
    uint64_t& word = grid.occupied[static_cast<size_t>(column * grid.occupiedWordsPerColumn + (c.z >> 6))];
    const uint64_t bit = uint64_t{1} << (c.z & 63);
    word = occupied ? (word | bit) : (word & ~bit);
}

static Cell& cellAt(CellIndices c) { return grid.cells[static_cast<size_t>(cellIndex(c.x, c.y, c.z))]; }

static void appendToCell(int32_t p, CellIndices c) {
    Cell& cell = cellAt(c);
    const int32_t slot = cell.count;
    if (slot < INLINE_SLOTS) {
        cell.slots[slot] = p;
    } else {
        if (cell.overflow < 0) {
            cell.overflow = static_cast<int32_t>(grid.overflowLists.size());
            grid.overflowLists.emplace_back();
        }
        grid.overflowLists[static_cast<size_t>(cell.overflow)].push_back(p);
    }
    cell.count += 1;
    if (cell.count == 1) setOccupied(c, true);
    sim.cellSlot[static_cast<size_t>(p)] = slot;
}

static void overwriteSlot(Cell& cell, int32_t slot, int32_t p) {
    if (slot < INLINE_SLOTS) {
        cell.slots[slot] = p;
    } else {
        grid.overflowLists[static_cast<size_t>(cell.overflow)][static_cast<size_t>(slot - INLINE_SLOTS)] = p;
    }
}

// Constant-time removal: the last entry of the list takes the place of the removed one.
static void removeFromCell(int32_t p, CellIndices c) {
    Cell& cell = cellAt(c);
    const int32_t slot = sim.cellSlot[static_cast<size_t>(p)];
    const int32_t last = cellParticle(cell, cell.count - 1);
    overwriteSlot(cell, slot, last);
    sim.cellSlot[static_cast<size_t>(last)] = slot;
    cell.count -= 1;
    if (cell.count == 0) setOccupied(c, false);
    if (cell.count >= INLINE_SLOTS) grid.overflowLists[static_cast<size_t>(cell.overflow)].pop_back();
}

// The cell index along one axis before the periodic wrap: n or -1 for a point on the edge
// of the domain that moves out through it.
static int32_t unwrappedAxisCell(double x, double v) {
    const double eps = 1e-20 / 2;  // half the length tolerance of the event prediction
    int32_t i = static_cast<int32_t>(std::floor(x / grid.cellSize));
    const double lower = i * grid.cellSize;
    const double upper = (i + 1) * grid.cellSize;
    if (std::fabs(x - lower) < eps && v < 0) i -= 1;
    if (std::fabs(x - upper) < eps && v > 0) i += 1;
    return i;
}

static int32_t wrapIndex(int32_t i) {
    if (i < 0) return i + grid.n;
    if (i >= grid.n) return i - grid.n;
    return i;
}

CellIndices cellOf(double x, double y, double z, double vx, double vy, double vz) {
    return CellIndices{wrapIndex(unwrappedAxisCell(x, vx)), wrapIndex(unwrappedAxisCell(y, vy)),
                       wrapIndex(unwrappedAxisCell(z, vz))};
}

// A particle on the edge of the domain that moves out through it belongs to the cell on the
// other side; its coordinate goes there too (the same point of the periodic box), or its
// next face crossing, measured from the far edge, would never be found.
static int32_t placeOnPeriodicAxis(double& x, double v) {
    const int32_t raw = unwrappedAxisCell(x, v);
    if (raw >= grid.n) {
        if (v < 0) return grid.n - 1;  // on the top face of the last cell, moving back into it
        x -= config.domain_size;
        return 0;
    }
    if (raw < 0) {
        if (v >= 0) return 0;
        x += config.domain_size;
        return grid.n - 1;
    }
    return raw;
}

void assignParticlesToCells() {
    for (int32_t p = 0; p < particleCount(); ++p) {
        ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
        CellIndices c;
        c.x = placeOnPeriodicAxis(m.posX, m.velX);
        c.y = placeOnPeriodicAxis(m.posY, m.velY);
        c.z = config.reflective_z ? wrapIndex(unwrappedAxisCell(m.posZ, m.velZ)) : placeOnPeriodicAxis(m.posZ, m.velZ);
        sim.cellX[static_cast<size_t>(p)] = c.x;
        sim.cellY[static_cast<size_t>(p)] = c.y;
        sim.cellZ[static_cast<size_t>(p)] = c.z;
        appendToCell(p, c);
    }
}

void moveParticleToCell(int32_t p, CellIndices from, CellIndices to) {
    if (from.x == to.x && from.y == to.y && from.z == to.z) return;
    removeFromCell(p, from);
    appendToCell(p, to);
    sim.cellX[static_cast<size_t>(p)] = to.x;
    sim.cellY[static_cast<size_t>(p)] = to.y;
    sim.cellZ[static_cast<size_t>(p)] = to.z;
}
