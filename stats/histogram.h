#pragma once
// The one binned accumulator of the program: height profiles (separator = height,
// aggregator = kinetic energy) and angle histograms (separator = angle, aggregator = 1).
// One add() is one sampling pass; num_instances turns the sums into per-pass averages.

#include <cstdint>
#include <string>
#include <vector>

enum class BinType : int32_t { Linear = 0, Logarithmic = 1 };

struct Histogram {
    uint64_t numBins = 0;  // fixed at construction; not part of the file
    uint64_t num_instances = 0;
    std::vector<double> edges;  // numBins + 1, increasing
    std::vector<double> centers;
    std::vector<uint64_t> counts;
    std::vector<double> values;
    std::vector<double> widths;
    // Where a value's bin is first looked for: (x - origin) * scale for linear bins,
    // (log2 x - origin) * scale for logarithmic ones. Only a hint; the edges decide.
    BinType binType = BinType::Linear;
    double guessOrigin = 0.0, guessScale = 0.0;

    Histogram() = default;
    // Throws std::invalid_argument for a logarithmic range that is not positive or an
    // empty range.
    Histogram(double minValue, double maxValue, int32_t numBins, BinType binType);

    // Bin of one separator: values outside the range go to the first or last bin, a
    // value on an inner edge to the bin below it (bins are closed at the top). Returns
    // numBins for a NaN, which has no bin (and for an accumulator without bins).
    uint64_t binOf(double x) const;

    // One element into its bin without counting a pass: for passes that are not lists.
    void accumulate(double separator, double aggregator);
    void add(const std::vector<double>& separators, const std::vector<double>& aggregators);
    void addOne(double separator, double aggregator);  // one pass with a single element
    void reset();

    // Throws std::runtime_error("Failed to open file for writing: " + path).
    void saveJson(const std::string& path) const;
    // A file that cannot be opened changes nothing. Throws InputError (naming the key)
    // for malformed JSON, a wrong type, or a list whose length does not fit numBins:
    // bins of another configuration would be indexed past their end.
    void loadJson(const std::string& path);
};
