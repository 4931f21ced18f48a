#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The id of a PipeWire object of `type` (e.g. "PipeWire:Interface:Node") whose properties
// hold `key` = `value`, as `pw-dump` lists the graph now; none when no object matches or
// the daemon cannot be reached. `environment` ("NAME=value" entries) locates the daemon.
std::optional<std::uint32_t> findPipeWireObject(const std::string& type, const std::string& key,
                                                const std::string& value,
                                                const std::vector<std::string>& environment);

}  // namespace testsupport
