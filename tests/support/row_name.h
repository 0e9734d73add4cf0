// Names the cases of a parameterised test after the `name` of their table
// rows, so that a failure names the row.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>

struct RowName {
    template <typename Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

namespace testsupport {

// Rows of a table print as their name, so that lists of test cases stay
// readable; a test file brings it in with `using testsupport::operator<<`.
template <typename Row, typename = decltype(std::declval<const Row&>().name)>
std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << row.name;
}

}  // namespace testsupport
