// The machinery under the physics: cells on faces and at the periodic edge, neighbour images, the
// heap's and the prediction's tie orders, the currency rule with the re-collision guard, plane hits.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <queue>
#include <random>
#include <set>
#include <tuple>

#include "core/cells.h"
#include "core/check.h"
#include "core/events.h"
#include "core/particles.h"
#include "core/prediction.h"
#include "tests/support.h"

using namespace testing_support;

namespace {

struct EngineTest : ::testing::Test {
    TempDir folder;
    void SetUp() override { resetAll(folder.path); }
};

// A particle on the periodic edge moving out through it goes to the same point on the other side, or
// its next crossing would be measured from the wrong face. A point on a face is in the cell it moves
// into; an ulp beyond L is still the last cell's far face.
TEST_F(EngineTest, FacesAndThePeriodicEdge) {
    setupBox(2, 1.0, 4);
    sim.motion[0].posX = std::nextafter(1.0, 2.0);
    EXPECT_EQ(positionProblem("pos", PositionSource::SavedState), "");
    placeParticle(0, {1.0, 0.5, 0.5}, {2.0, 0, 0}, 0.01, 1.0);
    placeParticle(1, {0.0, 0.1, 0.1}, {-2.0, 0, 0}, 0.01, 1.0);
    startEngine();
    EXPECT_EQ(std::make_tuple(sim.cellX[0], sim.motion[0].posX, sim.cellX[1], sim.motion[1].posX),
              std::make_tuple(0, 0.0, 3, 1.0));
    for (int k = 0; k < 2; ++k) {
        const ProcessedEvent e = processNextCurrentEvent();
        EXPECT_EQ(e.type, BoundaryX);
        EXPECT_NEAR(e.time, 0.125, 1e-15);  // a quarter of the box at speed 2
    }
    const std::tuple<double, double, int32_t> faces[] = {{0.25, -1, 0}, {0.25, +1, 1}, {0.25, 0, 1}, {1.0, -1, 3},
                                                         {1.0, +1, 0},  {0.0, -1, 3},  {0.6, 0, 2}};
    for (const auto& [x, v, cell] : faces) {
        const CellIndices c = cellOf(x, x, x, v, v, v);
        EXPECT_EQ(std::make_tuple(c.x, c.y, c.z), std::make_tuple(cell, cell, cell)) << x << " moving " << v;
    }
}

// With every cell occupied, each visit of the neighbour search, its cell moved by its image shift, is
// a distinct step in {-1, 0, +1}^3 from the own cell, never through a reflecting wall.
TEST_F(EngineTest, NeighbourVisitsAreTheAdjacentImages) {
    const std::tuple<int32_t, bool, int32_t, size_t> cases[] = {{3, false, 1, 27}, {2, false, 0, 27}, {1, false, 0, 27},
                                                                {3, true, 0, 18},  {3, true, 2, 18},  {3, true, 1, 27},
                                                                {1, true, 0, 9}};
    for (const auto& [n, walls, iz, visits] : cases) {
        resetAll(folder.path);
        setupBox(1, 1.0, n, walls);
        initCells();
        std::fill(grid.occupied.begin(), grid.occupied.end(), ~uint64_t{0});
        std::set<std::tuple<int32_t, int32_t, int32_t>> steps;
        forEachNeighborCell(0, n - 1, iz, [&](const Cell& cell, ImageShift ghost) {
            const auto k = static_cast<int32_t>(&cell - grid.cells.data());
            const int32_t dz = k % n - iz + static_cast<int32_t>(ghost.z) * n;
            EXPECT_TRUE(!walls || (iz + dz >= 0 && iz + dz < n)) << "through a wall";
            steps.emplace(k / (n * n) + static_cast<int32_t>(ghost.x) * n,
                          k / n % n - (n - 1) + static_cast<int32_t>(ghost.y) * n, dz);
        });
        EXPECT_EQ(steps.size(), visits) << n << " cells";
        for (const auto& [dx, dy, dz] : steps) EXPECT_LE(std::max({std::abs(dx), std::abs(dy), std::abs(dz)}), 1);
    }
}

// Events of equal time leave the heap in exactly the order of std::priority_queue with the
// same comparator, the order the stored trajectories were made with.
TEST_F(EngineTest, HeapTieOrderIsThatOfTheStandardPriorityQueue) {
    auto later = [](const Event& a, const Event& b) { return a.time > b.time; };
    std::priority_queue<Event, std::vector<Event>, decltype(later)> reference(later);
    std::mt19937_64 rng(9);
    for (int round = 0; round < 5000 || !reference.empty(); ++round) {
        if (round < 5000 && (rng() % 3 != 0 || reference.empty())) {
            Event e;
            e.time = static_cast<double>(rng() % 20);
            pushEvent(e);
            e.push = eventQueue.pushCount;
            reference.push(e);
        } else {
            ASSERT_EQ(eventQueue.top().push, reference.top().push) << "round " << round;
            eventQueue.pop();
            reference.pop();
        }
    }
}

// Right after a collision the pair is refused until one of them has moved. A collision whose
// partner has moved on is dropped and the survivor, either one, is predicted anew.
TEST_F(EngineTest, RecollisionGuardAndCurrencyRule) {
    setupBox(2, 1.0, 3);
    placeParticle(0, {0.45, 0.5, 0.5}, {1e-9, 0, 0}, 0.05, 1.0);
    placeParticle(1, {0.55, 0.5, 0.5}, {-1e-9, 0, 0}, 0.05, 1.0);  // touching and approaching
    startEngine();
    predictionState = PredictionState{1, 0};
    EXPECT_EQ(collisionCandidate(0).time, NEVER);
    sim.freePath[1] = 2e-20;
    const Event collision = collisionCandidate(0);
    ASSERT_EQ(collision.j, 1);
    EXPECT_TRUE(isEventCurrent(collision));
    for (const int32_t survivor : {0, 1, -1}) {  // -1: both have moved on, nothing to predict
        eventQueue.clear();
        for (int32_t p : {0, 1}) sim.eventCount[p] += p == survivor ? 0 : 1;
        EXPECT_FALSE(isEventCurrent(collision));
        EXPECT_EQ(eventQueue.empty() ? -1 : eventQueue.top().i, survivor);
        for (int32_t p : {0, 1}) sim.eventCount[p] -= p == survivor ? 0 : 1;
    }
}

// A pair that rounding has left overlapping and still approaching gets the later root, the moment
// the spheres would part, never the earlier one that lies in the past; receding, it gets none.
TEST_F(EngineTest, OverlappingApproachingPairTakesTheLaterRoot) {
    setupBox(2, 1.0, 3);
    placeParticle(0, {0.46, 0.5, 0.5}, {1.0, 0, 0}, 0.05, 1.0);
    placeParticle(1, {0.54, 0.5, 0.5}, {-1.0, 0, 0}, 0.05, 1.0);  // 0.08 apart, contact at 0.1
    startEngine();
    EXPECT_NEAR(collisionCandidate(0).time, 0.09, 1e-12);  // |0.08 - 2 t| = 0.1
    sim.motion[0].velX = -1.0;
    sim.motion[1].velX = 1.0;
    EXPECT_EQ(collisionCandidate(0).time, NEVER);
}

// A sphere flying along x = y meets an x face and a y face at the same instant; after the first
// crossing it lies on the other face, or a rounding hair beyond, and must cross it at once, or it
// stays filed in its old cell and flies through the sphere at rest on its path unseen.
TEST_F(EngineTest, DiagonalFlightThroughCellEdgesMeetsTheSphereOnItsPath) {
    const double r = 0.185e-9, L = 1e-8, target = 6.2e-9, v = 100.0;
    for (int k = 3; k <= 21; ++k) {
        const double s = k * 1e-10;
        resetAll(folder.path);
        setupBox(2, L, 4);
        placeParticle(0, {s, s, 5e-9}, {v, v, 0}, r, 4.65e-26);
        placeParticle(1, {target, target, 5e-9}, {0, 0, 0}, r, 4.65e-26);
        startEngine();
        ProcessedEvent e{-1, -1, -1, NEVER};
        for (int events = 0; events < 100 && e.type != Collision; ++events) e = processNextCurrentEvent();
        const double contact = (target - s) / v - 2 * r / (v * std::sqrt(2.0));
        EXPECT_EQ(e.type, Collision) << "s = " << s;
        EXPECT_NEAR(e.time, contact, 1e-9 * contact) << "s = " << s;
    }
}

// Under gravity the free path is the length of the parabola, whatever the number of advances on the
// way (cell crossings, the animation log): one flight advanced in 1, 3 and 64 steps against Simpson's
// rule. A molecule (speed changing by 1e-10 of itself), a flight over its apex, a vertical and a
// horizontal throw, gravity pointing up.
TEST_F(EngineTest, FreePathUnderGravityIsTheLengthOfTheParabola) {
    struct Case {
        double vx, vy, vz, g, duration;
    };
    const Case cases[] = {{300, -200, 150, 9.8, 1e-8},   {1, 0, 1, 10, 0.2}, {0, 0, 2, 10, 0.3},
                          {0.5, 0.5, 0, 10, 0.05},       {1, 0, -1, -4, 0.6}};
    for (const Case& c : cases) {
        const int n = 20000;  // Simpson on the speed |v(t)|, error ~ (T/n)^4
        const double h = std::hypot(c.vx, c.vy);
        auto speed = [&](double t) { return std::hypot(h, c.vz - c.g * t); };
        double integral = speed(0) + speed(c.duration);
        for (int k = 1; k < n; ++k) integral += (k % 2 ? 4 : 2) * speed(k * c.duration / n);
        integral *= c.duration / (3 * n);
        for (int steps : {1, 3, 64}) {
            resetAll(folder.path);
            setupBox(1, 1e3, 1, false, c.g);
            placeParticle(0, {500, 500, 500}, {c.vx, c.vy, c.vz}, 0.1, 1.0);
            for (int k = 1; k <= steps; ++k) {
                sim.simulationTime = c.duration * k / steps;
                advanceSingleParticle(0);
            }
            EXPECT_NEAR(sim.freePath[0], integral, 1e-11 * integral) << "case " << &c - cases << ", " << steps;
        }
    }
}

// The step after which the side of a sphere facing the target plane reaches it.
TEST_F(EngineTest, PlaneHitTimes) {
    struct Case {
        double z, r, v, a, target, time;
    };
    const Case cases[] = {
        {0.01, 0.01, 0.0, -9.8, 0.0, std::sqrt(2 * 0.01 / 9.8)},  // touching the floor: the centre aims at it
        {0.5, 0.1, -2.0, -0.0, 0.0, 0.2},                         // no gravity: the linear time
        {0.5, 0.1, 2.0, -0.0, 0.0, NEVER},                        // moving away
        {0.5, 0.0, 1.0, -10.0, 1.0, NEVER},                       // thrown up, never reaching it
        {0.5, 0.0, -1.0, -0.0, 0.5, NEVER},                       // on the target: a zero root does not count
        {0.5, 0.0, 1.0, -2.0, 0.6, (1 - std::sqrt(0.6)) / 2},     // up through it and down again: the first
        {0.0, 0.0, 300.0, -9.8, 1e-10, 1e-10 / 300.0}};           // a molecule: -B + sqrt(D) would cancel
    for (const Case& c : cases) {
        const double t = planeHitTime(c.z, c.r, c.v, c.a, c.target);
        EXPECT_TRUE(c.time == NEVER ? t == NEVER : std::abs(t - c.time) <= 1e-12 * c.time)
            << c.z << " " << c.v << " " << c.target << ": " << t;
    }
}

// Among candidates of equal time the first of Land, Exit, BoundaryX, BoundaryY, BoundaryZ,
// Collision, MetalZ wins; with nothing ahead at all, the first is still pushed.
TEST_F(EngineTest, PredictionTieOrderAndNothingAhead) {
    setupBox(2, 1.0, 4);
    placeParticle(0, {0.3, 0.3, 0.3}, {-0.05, -0.05, -0.05}, 0.05, 1.0);  // x, y and z faces equally far
    placeParticle(1, {0.8, 0.8, 0.8}, {0, 0, 0}, 0.05, 1.0);
    startEngine();
    ASSERT_EQ(eventQueue.size(), 2u);
    EXPECT_EQ(eventQueue.top().type, BoundaryX);
    eventQueue.pop();
    EXPECT_EQ(eventQueue.top().type, Land);
}

}  // namespace
