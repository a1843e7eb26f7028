// Names that the Wine-hosted driver stand-in and its user-mode host agree on: the service, the
// registry value that lists the devices to create, and the named pipe behind each device.
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

// Each device's requests travel to the module model over its own byte-mode pipe, named after the
// device: \\.\pipe\r4690-qdev-QDev5 for the host, \Device\NamedPipe\r4690-qdev-QDev5 for the
// driver. The framing on the pipe is the one of platform/device_frame.h.
constexpr char kPipePrefix[] = "\\\\.\\pipe\\r4690-qdev-";
constexpr wchar_t kKernelPipePrefixW[] = L"\\Device\\NamedPipe\\r4690-qdev-";

}  // namespace stand_in
