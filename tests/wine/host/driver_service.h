// The kernel-driver stand-in as a Windows service: registered (or re-pointed) at the driver file
// beside the running executable, where the build puts it, told which devices to create, started
// and stopped through the service control manager and the registry. Windows only.
#pragma once

#ifdef _WIN32

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/wine/stand_in_names.h"

namespace stand_in {

class DriverService {
 public:
  DriverService() = default;
  DriverService(const DriverService&) = delete;
  DriverService& operator=(const DriverService&) = delete;
  ~DriverService() {
    Stop();
    if (service_ != nullptr) CloseServiceHandle(service_);
    if (manager_ != nullptr) CloseServiceHandle(manager_);
  }

  // Creates the service, or points the existing one at the driver file, writes the device names
  // into its Parameters key, starts the driver and waits until it runs (its DriverEntry has
  // created the devices). False with a one-line reason.
  bool Start(const std::vector<std::string>& devices, std::string* error) {
    char path[MAX_PATH];
    std::string driver(path, GetModuleFileNameA(nullptr, path, MAX_PATH) % MAX_PATH);
    driver = driver.substr(0, driver.find_last_of("\\/") + 1) + kDriverFileName;
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager_ == nullptr) return Failed("cannot open the service control manager", error);
    service_ = CreateServiceA(manager_, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                              SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                              driver.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service_ == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {
      service_ = OpenServiceA(manager_, kServiceName, SERVICE_ALL_ACCESS);
      if (service_ != nullptr &&
          !ChangeServiceConfigA(service_, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                SERVICE_ERROR_NORMAL, driver.c_str(), nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr)) {
        return Failed("cannot re-point the driver service", error);
      }
    }
    if (service_ == nullptr) return Failed("cannot create the driver service", error);

    // The device list as a multi-string: each name and its zero, then one more zero.
    std::string list;
    for (const std::string& device : devices) list += device + '\0';
    list += '\0';
    const std::string keyPath =
        std::string("SYSTEM\\CurrentControlSet\\Services\\") + kServiceName + "\\" + kParametersKey;
    if (RegSetKeyValueA(HKEY_LOCAL_MACHINE, keyPath.c_str(), kDevicesValue, REG_MULTI_SZ,
                        list.data(), static_cast<DWORD>(list.size())) != ERROR_SUCCESS)
      return Failed("cannot write the device list into " + keyPath, error);

    if (!StartServiceA(service_, 0, nullptr))
      return Failed("cannot start the driver service", error);
    started_ = true;
    const DWORD state = WaitWhile(SERVICE_START_PENDING, 20000);
    if (state == SERVICE_RUNNING) return true;
    *error = "the driver service did not start (state " + std::to_string(state) + ")";
    return false;
  }

  // Stops the driver if this object started it, waiting a few seconds for it to unload.
  void Stop() {
    SERVICE_STATUS status{};
    if (started_ && ControlService(service_, SERVICE_CONTROL_STOP, &status)) {
      WaitWhile(SERVICE_STOP_PENDING, 5000);
    }
    started_ = false;
  }

 private:
  static bool Failed(const std::string& what, std::string* error) {
    *error = what + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }

  // Polls the service until it leaves `pending` or the time is up; the state it ended in.
  DWORD WaitWhile(DWORD pending, DWORD timeoutMs) {
    SERVICE_STATUS status{};
    for (DWORD waited = 0;; waited += 20) {
      if (!QueryServiceStatus(service_, &status)) return 0;
      if (status.dwCurrentState != pending || waited >= timeoutMs) return status.dwCurrentState;
      Sleep(20);
    }
  }

  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
  bool started_ = false;
};

}  // namespace stand_in

#endif  // _WIN32
