// Internal to the platform layer: the names of a device folder that differ from a device name
// only in ASCII case, for the case-insensitive lookup of device names. The folder is listed when
// it has changed since its last listing, which a stat tells, so a lookup in a folder that does
// not change costs the same however many endpoints it holds.
#pragma once

#include <string>
#include <vector>

namespace qdev_posix {

// The names in `folder` that are the same device name as `name` but spelt otherwise, sorted.
// Thread-safe. What the folder holds at the call, as a listing would give it.
std::vector<std::string> NamesIgnoringCase(const std::string& folder, const std::string& name);

}  // namespace qdev_posix
