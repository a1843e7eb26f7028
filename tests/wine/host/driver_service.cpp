// Registers, configures, starts and stops the kernel-driver stand-in through the service control
// manager and the registry.
#include "tests/wine/host/driver_service.h"

#include "platform/win32.h"
#include "tests/wine/stand_in_names.h"

namespace stand_in {

namespace {

constexpr DWORD kStartTimeoutMs = 20000;
constexpr DWORD kStopTimeoutMs = 5000;
constexpr DWORD kPollMs = 20;

SC_HANDLE Sc(void* handle) {
  return static_cast<SC_HANDLE>(handle);
}

std::string Failure(const std::string& what) {
  return what + " (error " + std::to_string(GetLastError()) + ")";
}

// Polls the service until it leaves `pending` or the time is up; the state it ended in.
DWORD WaitWhile(SC_HANDLE service, DWORD pending, DWORD timeoutMs) {
  SERVICE_STATUS status{};
  for (DWORD waited = 0;; waited += kPollMs) {
    if (!QueryServiceStatus(service, &status)) return 0;
    if (status.dwCurrentState != pending || waited >= timeoutMs) return status.dwCurrentState;
    Sleep(kPollMs);
  }
}

}  // namespace

std::string DriverPathBesideExecutable() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string self(path, n < MAX_PATH ? n : 0);
  const size_t slash = self.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + kDriverFileName;
}

DriverService::~DriverService() {
  Stop();
  if (service_ != nullptr) CloseServiceHandle(Sc(service_));
  if (manager_ != nullptr) CloseServiceHandle(Sc(manager_));
}

bool DriverService::Install(const std::string& driverPath, const std::vector<std::string>& devices,
                            std::string* error) {
  manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager_ == nullptr) {
    *error = Failure("cannot open the service control manager");
    return false;
  }
  service_ = CreateServiceA(Sc(manager_), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                            SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                            driverPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service_ == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {
    service_ = OpenServiceA(Sc(manager_), kServiceName, SERVICE_ALL_ACCESS);
    if (service_ != nullptr &&
        !ChangeServiceConfigA(Sc(service_), SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                              SERVICE_ERROR_NORMAL, driverPath.c_str(), nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr)) {
      *error = Failure("cannot re-point the driver service");
      return false;
    }
  }
  if (service_ == nullptr) {
    *error = Failure("cannot create the driver service");
    return false;
  }

  // The device list, as a multi-string: each name and its zero, then one more zero.
  std::string list;
  for (const std::string& device : devices) list += device + '\0';
  list += '\0';
  const std::string keyPath =
      std::string("SYSTEM\\CurrentControlSet\\Services\\") + kServiceName + "\\" + kParametersKey;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    *error = "cannot create the registry key " + keyPath;
    return false;
  }
  const LONG written =
      RegSetValueExA(key, kDevicesValue, 0, REG_MULTI_SZ,
                     reinterpret_cast<const BYTE*>(list.data()), static_cast<DWORD>(list.size()));
  RegCloseKey(key);
  if (written != ERROR_SUCCESS) {
    *error = "cannot write the device list into " + keyPath;
    return false;
  }
  return true;
}

bool DriverService::Start(std::string* error) {
  if (!StartServiceA(Sc(service_), 0, nullptr)) {
    *error = Failure("cannot start the driver service");
    return false;
  }
  started_ = true;
  const DWORD state = WaitWhile(Sc(service_), SERVICE_START_PENDING, kStartTimeoutMs);
  if (state != SERVICE_RUNNING) {
    *error = "the driver service did not start (state " + std::to_string(state) + ")";
    return false;
  }
  return true;
}

void DriverService::Stop() {
  if (!started_) return;
  started_ = false;
  SERVICE_STATUS status{};
  if (ControlService(Sc(service_), SERVICE_CONTROL_STOP, &status)) {
    WaitWhile(Sc(service_), SERVICE_STOP_PENDING, kStopTimeoutMs);
  }
}

}  // namespace stand_in
