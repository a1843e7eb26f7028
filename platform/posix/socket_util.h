// Internal to the platform layer: what the client and the serving side of a device endpoint
// share: where the device folder is, how a device name becomes a socket path, and whole-frame
// socket I/O that survives interrupted and partial transfers.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qdev_posix {

// $QDEV_DEVICE_DIR, or the default device folder when that is unset or empty.
std::string DeviceFolder();

// The socket path of device `name` in `folder`. False when it does not fit a socket address.
bool SocketPath(const std::string& folder, const std::string& name, std::string* path);

// The longest socket path that a socket address holds.
size_t MaxSocketPath();

// Writes all n bytes, blocking as needed; false when the connection fails.
bool SendAll(int fd, const uint8_t* p, size_t n);

// Reads exactly n bytes, all of them before `deadline`: however the peer spreads them out, the
// wait ends then. False at end of stream, on an error, or (with *timedOut set) at the deadline.
bool RecvExactlyBefore(int fd, uint8_t* p, size_t n, std::chrono::steady_clock::time_point deadline,
                       bool* timedOut);

}  // namespace qdev_posix
