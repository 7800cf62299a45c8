// The machinery under the physics: cell membership on faces, neighbour images, cell-list
// bookkeeping, the event heap's order, the currency rule, and plane-hit times.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <queue>
#include <random>
#include <set>
#include <tuple>

#include "app/config.h"
#include "app/initial_state.h"
#include "core/cells.h"
#include "core/events.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "core/check.h"
#include "tests/support.h"

using namespace testing_support;

namespace {

class EngineTest : public ::testing::Test {
   protected:
    void SetUp() override { resetAll(folder.path); }
    TempDir folder;
};

// A point on a face belongs to the cell it is moving into; the domain edge wraps.
TEST_F(EngineTest, CellOfAssignsFacePointsByDirection) {
    setupBox(1, 1.0, 4);
    initCells();
    const double face = 0.25;
    EXPECT_EQ(cellOf(face, 0.1, 0.1, -1, 0, 0).x, 0);
    EXPECT_EQ(cellOf(face, 0.1, 0.1, +1, 0, 0).x, 1);
    EXPECT_EQ(cellOf(face, 0.1, 0.1, 0, 0, 0).x, 1);
    EXPECT_EQ(cellOf(1.0, 0.1, 0.1, -1, 0, 0).x, 3);
    EXPECT_EQ(cellOf(1.0, 0.1, 0.1, +1, 0, 0).x, 0);
    EXPECT_EQ(cellOf(0.0, 0.1, 0.1, -1, 0, 0).x, 3);
    EXPECT_EQ(cellOf(0.1, 0.1, 0.6, 0, 0, 0).z, 2);
}

// A particle on the edge of the periodic domain, moving out through it, is placed at the same
// point on the other side, in the cell it enters; its next crossing is then one cell away.
TEST_F(EngineTest, ParticlesOnTheDomainEdgeGetTheirNextCrossing) {
    setupBox(2, 1.0, 4);
    placeParticle(0, {1.0, 0.5, 0.5}, {2.0, 0, 0}, 0.01, 1.0);
    placeParticle(1, {0.0, 0.1, 0.1}, {-2.0, 0, 0}, 0.01, 1.0);
    startEngine();
    EXPECT_EQ(sim.cellX[0], 0);
    EXPECT_EQ(sim.motion[0].posX, 0.0);
    EXPECT_EQ(sim.cellX[1], 3);
    EXPECT_EQ(sim.motion[1].posX, 1.0);
    for (int k = 0; k < 2; ++k) {
        const ProcessedEvent e = processNextCurrentEvent();
        EXPECT_EQ(e.type, BoundaryX);
        EXPECT_NEAR(e.time, 0.125, 1e-15);  // a quarter of the box at speed 2
    }
    EXPECT_EQ(sim.cellX[0], 1);
    EXPECT_EQ(sim.cellX[1], 2);
}

// A saved state may hold a particle on the far face of the last cell, n * (L / n), which
// rounding can put an ulp beyond L; it is accepted, a position clearly outside is not.
TEST_F(EngineTest, PositionsAHairBeyondTheEdgeAreAccepted) {
    setupBox(1, 1.0, 4);
    sim.motion[0].posX = std::nextafter(1.0, 2.0);
    EXPECT_EQ(positionProblem("pos"), "");
    sim.motion[0].posX = 1.01;
    EXPECT_NE(positionProblem("pos"), "");
}

// Visits of the neighbour search when every cell holds a particle: which cells, how often,
// with which image shifts.
std::vector<std::tuple<int32_t, Vec3>> neighbourVisits(int32_t cells, bool reflective, int32_t ix, int32_t iy,
                                                       int32_t iz) {
    resetAll();
    const int32_t count = cells * cells * cells;
    setupBox(count, 1.0, cells, reflective);
    const double a = 1.0 / cells;
    for (int32_t p = 0; p < count; ++p) {
        placeParticle(p, {(p / (cells * cells) + 0.5) * a, (p / cells % cells + 0.5) * a, (p % cells + 0.5) * a},
                      {0, 0, 0}, 0.01, 1.0);
    }
    initCells();
    assignParticlesToCells();
    std::vector<std::tuple<int32_t, Vec3>> visits;
    forEachNeighborCell(ix, iy, iz, [&](const Cell& cell, Vec3 ghost) {
        visits.emplace_back(static_cast<int32_t>(&cell - grid.cells.data()), ghost);
    });
    return visits;
}

TEST_F(EngineTest, NeighbourCellsAndImageShifts) {
    auto distinctCells = [](const std::vector<std::tuple<int32_t, Vec3>>& visits) {
        std::set<int32_t> cells;
        for (const auto& v : visits) cells.insert(std::get<0>(v));
        return cells.size();
    };
    auto three = neighbourVisits(3, false, 0, 1, 2);
    EXPECT_EQ(three.size(), 27u);
    EXPECT_EQ(distinctCells(three), 27u);
    auto two = neighbourVisits(2, false, 0, 0, 0);
    EXPECT_EQ(two.size(), 27u);
    EXPECT_EQ(distinctCells(two), 8u);
    auto one = neighbourVisits(1, false, 0, 0, 0);
    EXPECT_EQ(one.size(), 27u);
    std::set<std::tuple<double, double, double>> shifts;
    for (const auto& v : one) shifts.insert({std::get<1>(v).x, std::get<1>(v).y, std::get<1>(v).z});
    EXPECT_EQ(shifts.size(), 27u);
    EXPECT_EQ(neighbourVisits(3, true, 1, 1, 0).size(), 18u);
    EXPECT_EQ(neighbourVisits(3, true, 1, 1, 2).size(), 18u);
    EXPECT_EQ(neighbourVisits(3, true, 1, 1, 1).size(), 27u);
    EXPECT_EQ(neighbourVisits(1, true, 0, 0, 0).size(), 9u);
    // The first visit is offset (-1, -1, -1): from cell 0 that is the wrapped corner cell.
    auto first = neighbourVisits(3, false, 0, 0, 0).front();
    EXPECT_EQ(std::get<0>(first), cellIndex(2, 2, 2));
    EXPECT_EQ(std::get<1>(first).x, -1.0);
}

// Random moves between the cells of a small grid, crowded enough that lists overflow their
// inline slots: every particle is always listed once, where it says it is.
TEST_F(EngineTest, CellListsStayConsistentUnderMoves) {
    const int32_t count = 40;
    setupBox(count, 1.0, 2);
    for (int32_t p = 0; p < count; ++p) placeParticle(p, {0.1, 0.1, 0.1 + 0.001 * p}, {0, 0, 0}, 0.001, 1.0);
    initCells();
    assignParticlesToCells();
    std::mt19937_64 rng(1);
    for (int move = 0; move < 2000; ++move) {
        const auto p = static_cast<int32_t>(rng() % count);
        const CellIndices from{sim.cellX[p], sim.cellY[p], sim.cellZ[p]};
        const CellIndices to{static_cast<int32_t>(rng() % 2), static_cast<int32_t>(rng() % 2),
                             static_cast<int32_t>(rng() % 2)};
        moveParticleToCell(p, from, to);
    }
    int32_t listed = 0;
    for (const Cell& cell : grid.cells) {
        listed += cell.count;
        for (int32_t slot = 0; slot < cell.count; ++slot) {
            const int32_t p = cellParticle(cell, slot);
            EXPECT_EQ(&grid.cells[cellIndex(sim.cellX[p], sim.cellY[p], sim.cellZ[p])], &cell);
            EXPECT_EQ(sim.cellSlot[p], slot);
        }
    }
    EXPECT_EQ(listed, count);
}

// Events of equal time leave the queue in exactly the order of std::priority_queue with
// the same comparator.
TEST_F(EngineTest, QueueOrderMatchesTheStandardPriorityQueue) {
    auto later = [](const Event& a, const Event& b) { return a.time > b.time; };
    std::priority_queue<Event, std::vector<Event>, decltype(later)> reference(later);
    std::mt19937_64 rng(9);
    uint64_t pushes = 0;
    for (int round = 0; round < 5000; ++round) {
        if (rng() % 3 != 0 || reference.empty()) {
            Event e;
            e.time = static_cast<double>(rng() % 20);
            e.i = round;
            pushEvent(e);
            e.push = ++pushes;
            reference.push(e);
        } else {
            ASSERT_EQ(eventQueue.top().push, reference.top().push);
            eventQueue.pop();
            reference.pop();
        }
    }
    while (!reference.empty()) {
        ASSERT_EQ(eventQueue.top().push, reference.top().push);
        eventQueue.pop();
        reference.pop();
    }
    EXPECT_TRUE(eventQueue.empty());
}

// A collision whose partner has moved on is dropped, and the survivor is predicted anew;
// when both have moved on nothing is pushed.
TEST_F(EngineTest, StaleCollisionRepredictsOnlyTheSurvivor) {
    setupBox(2, 1.0, 3);
    placeParticle(0, {0.4, 0.5, 0.5}, {1, 0, 0}, 0.05, 1.0);
    placeParticle(1, {0.6, 0.5, 0.5}, {-1, 0, 0}, 0.05, 1.0);
    initCells();
    assignParticlesToCells();
    Event collision = collisionCandidate(0);
    ASSERT_EQ(collision.j, 1);
    EXPECT_TRUE(isEventCurrent(collision));

    sim.eventCount[1] += 1;
    const uint64_t before = eventQueue.pushCount;
    EXPECT_FALSE(isEventCurrent(collision));
    EXPECT_EQ(eventQueue.pushCount, before + 1);
    EXPECT_EQ(eventQueue.top().i, 0);

    sim.eventCount[0] += 1;
    EXPECT_FALSE(isEventCurrent(collision));
    EXPECT_EQ(eventQueue.pushCount, before + 1);
}

TEST_F(EngineTest, PlaneHitTimes) {
    // Resting on the floor: the target touches the sphere, so the centre is used.
    EXPECT_NEAR(planeHitTime(0.01, 0.01, 0.0, -9.8, 0.0), std::sqrt(2 * 0.01 / 9.8), 1e-15);
    // Without gravity: the linear time, and nothing when moving away.
    EXPECT_NEAR(planeHitTime(0.5, 0.1, -2.0, -0.0, 0.0), 0.2, 1e-15);
    EXPECT_EQ(planeHitTime(0.5, 0.1, 2.0, -0.0, 0.0), NEVER);
    EXPECT_EQ(planeHitTime(0.5, 0.1, 0.0, -0.0, 0.0), NEVER);
    // Thrown up below a plane it cannot reach.
    EXPECT_EQ(planeHitTime(0.5, 0.0, 1.0, -10.0, 1.0), NEVER);
    // Exactly on the target: a zero root does not count.
    EXPECT_EQ(planeHitTime(0.5, 0.0, -1.0, -0.0, 0.5), NEVER);
}

// Among candidates of equal time the order Land, Exit, BoundaryX, BoundaryY, BoundaryZ,
// Collision, MetalZ decides; with nothing ahead at all, the first is still pushed.
TEST_F(EngineTest, PredictionTieBreakAndNothingAhead) {
    setupBox(1, 1.0, 4, true, 0.0);
    placeParticle(0, {0.3, 0.3, 0.3}, {-0.05, -0.05, -0.05}, 0.05, 1.0);  // x, y and z faces at 0.25, floor at 0.05
    startEngine();
    EXPECT_EQ(eventQueue.top().type, BoundaryX);
    EXPECT_NEAR(eventQueue.top().time, 1.0, 1e-12);

    resetAll(folder.path);
    setupBox(1, 1.0, 4, false, 0.0);
    placeParticle(0, {0.3, 0.3, 0.3}, {0, 0, 0}, 0.05, 1.0);
    startEngine();
    EXPECT_EQ(eventQueue.top().type, Land);
    EXPECT_EQ(eventQueue.top().time, NEVER);
}

TEST_F(EngineTest, RecollisionGuardRefusesThePairUntilOneHasMoved) {
    setupBox(2, 1.0, 3);
    placeParticle(0, {0.45, 0.5, 0.5}, {1e-9, 0, 0}, 0.05, 1.0);
    placeParticle(1, {0.55, 0.5, 0.5}, {-1e-9, 0, 0}, 0.05, 1.0);  // touching and approaching
    initCells();
    assignParticlesToCells();
    predictionState.lastCollisionI = 1;
    predictionState.lastCollisionJ = 0;
    EXPECT_EQ(collisionCandidate(0).time, NEVER);
    sim.freePath[1] = 2e-20;
    EXPECT_EQ(collisionCandidate(0).j, 1);
}

}  // namespace
