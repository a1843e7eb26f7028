// The kernel-driver stand-in as a Windows service: registered (or re-pointed) at a driver file,
// told which devices to create, started and stopped through the service control manager.
// Windows only.
#pragma once

#ifdef _WIN32

#include <string>
#include <vector>

namespace stand_in {

// The driver file beside the running executable, where the build puts it.
std::string DriverPathBesideExecutable();

class DriverService {
 public:
  DriverService() = default;
  ~DriverService();  // Stop()
  DriverService(const DriverService&) = delete;
  DriverService& operator=(const DriverService&) = delete;

  // Creates the service, or points the existing one at `driverPath`, and writes the device names
  // into its Parameters key. False with a one-line reason.
  bool Install(const std::string& driverPath, const std::vector<std::string>& devices,
               std::string* error);
  // Starts the driver and waits until it runs (its DriverEntry has created the devices).
  bool Start(std::string* error);
  // Stops the driver if this object started it, waiting a few seconds for it to unload.
  void Stop();

 private:
  void* manager_ = nullptr;  // SC_HANDLE
  void* service_ = nullptr;  // SC_HANDLE
  bool started_ = false;
};

}  // namespace stand_in

#endif  // _WIN32
