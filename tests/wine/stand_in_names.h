// Names that the Wine-hosted driver stand-in and its user-mode host agree on: the service and the
// registry value that lists the devices to create. The named pipe behind each device, and its
// framing, are the platform's (platform/device_frame.h).
// Plain C++ with no OS types, so that the kernel driver and the host both include it.
#pragma once

namespace stand_in {

// The kernel-driver service that the host registers and starts.
constexpr char kServiceName[] = "R4690QDevStandIn";
constexpr char kDriverFileName[] = "qdev_stand_in.sys";

// Under the service key: Parameters\Devices, REG_MULTI_SZ, one device name ("QDev5") per entry.
constexpr char kParametersKey[] = "Parameters";
constexpr char kDevicesValue[] = "Devices";
constexpr wchar_t kParametersKeyW[] = L"\\Parameters";
constexpr wchar_t kDevicesValueW[] = L"Devices";

}  // namespace stand_in
