// Names parameterised cases after the `name` field of their table row, so
// that a failure names the row.
#pragma once

#include <gtest/gtest.h>

#include <string>

template <typename Row>
std::string RowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}
