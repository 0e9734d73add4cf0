// Names for the objects a test creates (pipes, segments, mutexes, INI
// sections, folders) that no other test, program or run uses at the same
// time.
#pragma once

#include <string>

namespace testsupport {

// `prefix`, the running test's name, a random number drawn once per process
// and a counter; only letters, digits, '-' and '_', short enough for any of
// the system's names.
std::string UniqueName(const std::string& prefix);

}  // namespace testsupport
