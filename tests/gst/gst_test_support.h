// What the GStreamer elements' tests share: running gst-launch-1.0 and
// gst-inspect-1.0 with the built plugin in reach, and a free UDP port.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tool_run.h"

namespace gsttest {

// The longest a pipeline of these tests may take.
constexpr unsigned kPipelineMs = 60000;

// A pipeline description split into gst-launch-1.0's arguments at its blanks.
std::vector<std::string> LaunchArgs(const std::string& pipeline);

// Starts gst-launch-1.0 with `pipeline`, its output in `outputName` of `dir`.
std::unique_ptr<toolstest::ToolRun> StartPipeline(const testsupport::TempDir& dir, const std::string& outputName,
                                                  const std::string& pipeline);

// Runs a pipeline to its end; true when it ended with exit code 0.
testing::AssertionResult RunPipeline(const testsupport::TempDir& dir, const std::string& outputName,
                                     const std::string& pipeline);

// Whether GStreamer has the element (gst-inspect-1.0 knows it).
bool HasElement(const std::string& element);

// A UDP port of 127.0.0.1 that was free a moment ago.
int FreeUdpPort();

}  // namespace gsttest
