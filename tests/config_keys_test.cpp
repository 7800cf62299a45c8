// The README's tables of config.json and alter.json keys against the key table that the
// loaders work from: every key with its type, default and alter.json mark, and the
// alter.json keys in the order in which they take effect.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "app/config.h"

namespace {

// The rows of the README table under the header row `header`, split into cells, with the
// backticked names of the first cell.
struct Row {
    std::vector<std::string> names, cells;
};
std::vector<Row> readmeTable(const std::string& header) {
    std::ifstream in(HARDGAS_README);
    std::vector<Row> rows;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (!inside) {
            inside = line == header;
            continue;
        }
        if (line.rfind("|", 0) != 0) break;
        if (line.rfind("|-", 0) == 0) continue;
        Row row;
        std::stringstream text(line.substr(1));
        for (std::string cell; std::getline(text, cell, '|');) row.cells.push_back(cell.substr(1, cell.size() - 2));
        const std::regex name("`([a-z_]+)`");
        for (std::sregex_iterator it(row.cells[0].begin(), row.cells[0].end(), name), end; it != end; ++it) {
            row.names.push_back((*it)[1]);
        }
        rows.push_back(row);
    }
    return rows;
}

std::string documentedDefault(const ConfigKey& key) {
    if (key.required) return "required";
    if (key.defaultText != nullptr) return key.defaultText;
    const SimulationConfig defaults;
    return std::visit(
        [&](auto field) -> std::string {
            const auto value = defaults.*field;
            std::ostringstream text;
            text << std::boolalpha << value;
            if constexpr (std::is_same_v<std::remove_cv_t<decltype(value)>, double>) {
                if (value == static_cast<int64_t>(value)) text << ".0";
            }
            return text.str();
        },
        key.field);
}

TEST(ConfigKeysTest, ReadmeListsEveryKeyAsTheTableDefinesIt) {
    static const char* const TYPES[] = {"bool", "int", "uint64", "double", "string"};
    std::map<std::string, std::vector<std::string>> documented;  // type, default, alter.json
    for (const Row& row : readmeTable("| Key | Type | Default | Meaning |")) {
        ASSERT_EQ(row.cells.size(), 4u) << row.cells[0];
        const std::string& defaults = row.cells[2];
        const size_t comma = row.names.size() > 1 ? defaults.find(", ") : std::string::npos;
        for (size_t k = 0; k < row.names.size(); ++k) {
            const std::string value = comma == std::string::npos ? defaults
                                      : k == 0                     ? defaults.substr(0, comma)
                                                                   : defaults.substr(comma + 2);
            documented[row.names[k]] = {row.cells[1], value, row.cells[3].ends_with("alter.json") ? "yes" : "no"};
        }
    }
    EXPECT_EQ(documented.size(), configKeys().size());
    for (const ConfigKey& key : configKeys()) {
        const std::vector<std::string> expected{TYPES[key.field.index()], documentedDefault(key),
                                                key.alterOrder > 0 ? "yes" : "no"};
        EXPECT_EQ(documented[key.name], expected) << key.name;
    }
}

TEST(ConfigKeysTest, ReadmeListsTheAlterKeysInTheOrderTheyTakeEffect) {
    std::vector<std::string> listed, expected;
    for (const Row& row : readmeTable("| Key | Effect |")) listed.insert(listed.end(), row.names.begin(), row.names.end());
    std::vector<ConfigKey> keys(configKeys().begin(), configKeys().end());
    std::stable_sort(keys.begin(), keys.end(), [](const ConfigKey& a, const ConfigKey& b) { return a.alterOrder < b.alterOrder; });
    for (const ConfigKey& key : keys) {
        // stop and reset_stats take effect between the snapshot keys and purge_queue_above.
        if (key.alterOrder == 13) expected.insert(expected.end(), {"stop", "reset_stats"});
        if (key.alterOrder > 0) expected.push_back(key.name);
    }
    EXPECT_EQ(listed, expected);
}

}  // namespace
