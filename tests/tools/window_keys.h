// Keys pressed in a window of another process, as its user presses them.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace toolstest {

enum class Key { Space, S, Q, Escape };

// Presses `key` in the visible top-level window titled `title`.
testing::AssertionResult PressKey(const std::string& title, Key key);

}  // namespace toolstest
