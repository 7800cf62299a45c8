// The binned accumulator. Refused ranges and refused files are met in bad_input_test's runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "stats/histogram.h"
#include "tests/support.h"

using namespace testing_support;

namespace {

// Edges 0, 0.25, 0.5, 0.75, 1: a value on an inner edge belongs to the bin below it, values
// outside the range go to the end bins, and a NaN has no bin.
TEST(HistogramTest, EveryValueLandsInABinClosedAtTheTop) {
    Histogram h(0.0, 1.0, 4, BinType::Linear);
    h.add({0.0, 0.25, 0.3, 1.0, -5.0, 7.0, std::numeric_limits<double>::quiet_NaN()}, {1, 2, 4, 8, 16, 32, 64});
    EXPECT_EQ(h.counts, (std::vector<uint64_t>{3, 1, 0, 2}));
    EXPECT_EQ(h.values, (std::vector<double>{19.0, 4.0, 0.0, 40.0}));
}

// The bin is guessed from the spacing and corrected by the edges: on every edge and one ulp
// either side the edges must decide (above the top edge is still the last bin), also for
// edges read from a file off the constructed spacing, where the correction moves further.
TEST(HistogramTest, BinLookupFollowsTheEdgesOneUlpEitherSide) {
    Histogram irregular(0.1, 0.9, 5, BinType::Linear);
    irregular.edges = {0.1, 0.11, 0.5, 0.51, 0.52, 0.9};
    for (const Histogram& h : {Histogram(1.85e-10, 2.8e-8, 100, BinType::Logarithmic),
                               Histogram(0.0, std::acos(-1.0), 100, BinType::Linear), irregular}) {
        for (uint64_t k = 1; k <= h.numBins; ++k) {
            ASSERT_EQ(h.binOf(std::nextafter(h.edges[k], -HUGE_VAL)), k - 1) << k;
            ASSERT_EQ(h.binOf(h.edges[k]), k - 1) << k;
            ASSERT_EQ(h.binOf(std::nextafter(h.edges[k], HUGE_VAL)), std::min(k, h.numBins - 1)) << k;
        }
    }
}

TEST(HistogramTest, FileRoundTrip) {
    TempDir dir;
    auto fields = [](const Histogram& h) {
        return std::tie(h.num_instances, h.edges, h.centers, h.counts, h.values, h.widths);
    };
    Histogram heights(1e-3, 0.7, 50, BinType::Logarithmic), loaded(1.0, 2.0, 50, BinType::Linear);
    heights.add({0.01, 0.3, 0.69}, {1e-21, 3.3e-21, 7.77e-22});
    heights.saveJson(dir.file("p.json"));
    loaded.loadJson(dir.file("p.json"));  // of other edges: every list has to come from the file
    loaded.loadJson(dir.file("missing.json"));  // no file, nothing to replace
    EXPECT_EQ(fields(loaded), fields(heights));
    writeFile(dir.file("partial.json"), R"({"num_instances": 7})");  // the lists it does not name stay
    loaded.loadJson(dir.file("partial.json"));
    EXPECT_EQ(loaded.counts, heights.counts);
}

}  // namespace
