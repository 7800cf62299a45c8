// The binned accumulator: bin geometry, which bin a value lands in, and the JSON file that
// a continued run reads back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

#include "util/json_input.h"
#include "stats/histogram.h"
#include "tests/support.h"

using namespace testing_support;

namespace {

const double PI = 3.141592653589793;

TEST(HistogramTest, LinearAndLogarithmicBinGeometry) {
    const Histogram angles(0.0, PI, 100, BinType::Linear);
    ASSERT_EQ(angles.edges.size(), 101u);
    ASSERT_EQ(angles.centers.size(), 100u);
    EXPECT_DOUBLE_EQ(angles.edges[1], PI / 100);
    EXPECT_DOUBLE_EQ(angles.centers[0], PI / 200);
    for (double w : angles.widths) EXPECT_NEAR(w, PI / 100, 1e-15);
    EXPECT_EQ(angles.edges[37], 37 * (PI / 100));  // by multiplication, not by summing widths

    const Histogram heights(0.001, 1.0, 3, BinType::Logarithmic);
    const double edges[] = {0.001, 0.01, 0.1, 1.0};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(heights.edges[k], edges[k], 1e-15);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(heights.centers[k], std::sqrt(edges[k] * edges[k + 1]), 1e-15);
    EXPECT_EQ(heights.counts, std::vector<uint64_t>(3, 0));
    EXPECT_EQ(heights.num_instances, 0u);
}

TEST(HistogramTest, ImpossibleRangesAreRefused) {
    auto message = [](double lo, double hi, BinType type) {
        try {
            Histogram(lo, hi, 10, type);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message(0.0, 1.0, BinType::Logarithmic), "Logarithmic bins require positive minValue and maxValue.");
    EXPECT_EQ(message(0.0, 0.0, BinType::Logarithmic), "Logarithmic bins require positive minValue and maxValue.");
    EXPECT_EQ(message(1.0, 1.0, BinType::Linear), "minValue must be less than maxValue.");
    EXPECT_EQ(message(2.0, 1.0, BinType::Linear), "minValue must be less than maxValue.");
}

TEST(HistogramTest, EveryValueLandsInABinClosedAtTheTop) {
    Histogram h(0.0, 1.0, 4, BinType::Linear);  // edges 0, 0.25, 0.5, 0.75, 1
    const double nan = std::numeric_limits<double>::quiet_NaN();
    h.add({0.0, 0.25, 0.3, 1.0, -5.0, 7.0, nan}, {1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 64.0});
    EXPECT_EQ(h.counts, (std::vector<uint64_t>{3, 1, 0, 2}));
    EXPECT_EQ(h.values, (std::vector<double>{19.0, 4.0, 0.0, 40.0}));  // the NaN has no bin
    EXPECT_EQ(h.num_instances, 1u);

    h.add(std::vector<double>{}, std::vector<double>{});
    EXPECT_EQ(h.num_instances, 2u);
    EXPECT_THROW(h.add({0.5}, {}), std::invalid_argument);
    EXPECT_EQ(h.num_instances, 2u);

    const std::vector<double> edges = h.edges;
    h.reset();
    EXPECT_EQ(h.counts, std::vector<uint64_t>(4, 0));
    EXPECT_EQ(h.values, std::vector<double>(4, 0.0));
    EXPECT_EQ(h.num_instances, 0u);
    EXPECT_EQ(h.edges, edges);
}

// The bin is computed from the spacing and corrected by the edges; it must agree with a
// binary search everywhere, on the edges themselves, one ulp either side of them, and for
// edges read from a file that do not follow the constructed spacing.
TEST(HistogramTest, BinLookupAgreesWithBinarySearchOverTheEdges) {
    auto reference = [](const Histogram& h, double x) -> uint64_t {
        if (x <= h.edges.front()) return 0;
        if (x > h.edges.back()) return h.numBins - 1;
        return static_cast<uint64_t>(std::lower_bound(h.edges.begin(), h.edges.end(), x) - h.edges.begin()) - 1;
    };
    Histogram irregular(0.1, 0.9, 5, BinType::Linear);
    irregular.edges = {0.1, 0.11, 0.5, 0.51, 0.52, 0.9};
    std::mt19937_64 random(3);
    for (const Histogram& h : {Histogram(1.85e-10, 2.8e-8, 100, BinType::Logarithmic),
                               Histogram(1.85e-10, 2.8e-8, 100, BinType::Linear), Histogram(0.0, PI, 100, BinType::Linear),
                               irregular}) {
        std::vector<double> probes;
        for (double e : h.edges) probes.insert(probes.end(), {e, std::nextafter(e, -1.0), std::nextafter(e, 2.0)});
        std::uniform_real_distribution<double> within(h.edges.front(), h.edges.back());
        for (int k = 0; k < 2000; ++k) probes.push_back(within(random));
        for (double x : probes) ASSERT_EQ(h.binOf(x), reference(h, x)) << x;
    }
}

TEST(HistogramTest, FileTextAndRoundTrip) {
    TempDir dir;
    Histogram h(0.0, 1.0, 2, BinType::Linear);
    h.add({0.25, 1.0}, {2.0, 0.5});
    h.saveJson(dir.file("h.json"));
    EXPECT_EQ(readFile(dir.file("h.json")),
              "{\n    \"centers\": [\n        0.25,\n        0.75\n    ],\n    \"counts\": [\n        1,\n        1\n"
              "    ],\n    \"edges\": [\n        0.0,\n        0.5,\n        1.0\n    ],\n    \"num_instances\": 1,\n"
              "    \"values\": [\n        2.0,\n        0.5\n    ],\n    \"widths\": [\n        0.5,\n        0.5\n"
              "    ]\n}");

    Histogram heights(1e-3, 0.7, 50, BinType::Logarithmic);
    heights.add({0.01, 0.3, 0.69}, {1e-21, 3.3e-21, 7.77e-22});
    heights.saveJson(dir.file("p.json"));
    Histogram loaded(1e-3, 0.7, 50, BinType::Logarithmic);
    loaded.loadJson(dir.file("p.json"));
    EXPECT_EQ(loaded.edges, heights.edges);
    EXPECT_EQ(loaded.centers, heights.centers);
    EXPECT_EQ(loaded.widths, heights.widths);
    EXPECT_EQ(loaded.counts, heights.counts);
    EXPECT_EQ(loaded.values, heights.values);
    EXPECT_EQ(loaded.num_instances, 1u);
}

TEST(HistogramTest, LoadingKeepsWhatTheFileLacksAndRefusesOtherBinCounts) {
    TempDir dir;
    Histogram h(0.0, 1.0, 2, BinType::Linear);
    h.add({0.1}, {5.0});
    h.loadJson(dir.file("missing.json"));
    EXPECT_EQ(h.num_instances, 1u);

    writeFile(dir.file("partial.json"), R"({"num_instances": 7, "counts": [2, 3]})");
    h.loadJson(dir.file("partial.json"));
    EXPECT_EQ(h.num_instances, 7u);
    EXPECT_EQ(h.counts, (std::vector<uint64_t>{2, 3}));
    EXPECT_EQ(h.values, (std::vector<double>{5.0, 0.0}));

    const struct {
        const char* text;
        const char* error;
    } refused[] = {
        {R"({"num_instances": 9, "values": [1.0, 2.0, 3.0]})",
         "key \"values\" holds 3 values, but the configured bins need 2 (was the file written with another "
         "profile_num_bins?)"},
        {R"({"counts": [1, -2]})", "key \"counts[1]\": -2 is outside the range of this integer*"},
        {R"({"edges": "0 0.5 1"})", "key \"edges\": type must be array, but is string"},
        {R"({"edges": [0.0, 0.7, 0.5]})", "key \"edges\" must be in increasing order"},
        {R"({"counts": [1, 2)", "not valid JSON: *"},
    };
    for (const auto& c : refused) {
        writeFile(dir.file("bad.json"), c.text);
        std::string what = "no error";
        try {
            h.loadJson(dir.file("bad.json"));
        } catch (const InputError& e) {
            what = e.what();
        }
        std::string expected = c.error;
        if (expected.back() == '*') {
            expected.pop_back();
            what = what.substr(0, expected.size());
        }
        EXPECT_EQ(what, expected) << c.text;
        EXPECT_EQ(h.num_instances, 7u) << c.text;  // nothing replaced
    }
}

}  // namespace
