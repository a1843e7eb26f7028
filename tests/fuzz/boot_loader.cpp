// Fuzz target: the module interface library's operations against a driver whose every answer
// comes from the input, through the platform's device calls defined here: which devices open, and
// for each request a complete answer, an error, no answer at all (the time-out path, with waits
// made instant), or a byte count that is not the one asked for, with data shorter or longer than
// the buffer. The input also picks the operations, their addresses (up to and past 0xFFFFFFFF),
// their sizes (odd ones, and past one request's 4096 bytes) and platform faults. Every buffer is a
// block of its exact size. Each request must have the form of its kind; a block transfer must go
// out as the chunks of its range in order, succeed only when every chunk was carried out whole and
// stop at the first that was not; a failure must leave a code that has a text; and releasing the
// object must close every device it opened.
//
// Input (FuzzedDataProvider): the interface, then operations with their arguments, interleaved
// with the driver's answers as the requests come.

#include "contract/module_addresses.h"
#include "modlib/error_codes.h"
#include "modlib/interfaces.h"
#include "platform/posix/event.h"
#include "platform/posix/handles.h"
#include "platform/posix/ntstatus.h"
#include "platform/testing/test_facilities.h"
#include "platform/win32.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace dc = driver_contract;
using qdev_posix::Event;

// One DeviceIoControl call as the library made it, and the driver's answer.
struct Sent {
  uint32_t ioControlCode = 0;
  std::vector<uint8_t> input, output;  // the output buffer as it was; its size is the output size
  dc::VendorRequest header{};
  bool answered = true;       // false: the request stays pending until cancelled or closed
  uint32_t error = 0;         // Windows error value; 0 completes the request successfully
  uint32_t information = 0;   // byte count reported as transferred
  std::vector<uint8_t> data;  // copied to the start of the output buffer, at most its size
  // Carried out whole, as the library counts it.
  bool done() const { return answered && error == 0 && information == output.size(); }
};

// The form of each kind of vendor request: its direction, and the data lengths it may have.
struct Form {
  uint16_t code, direction;
  size_t shortest, longest;
};
constexpr uint16_t kIn = dc::kDirectionToHost, kOut = dc::kDirectionToModule;
constexpr size_t kMax = dc::kMaxTransferSize;
constexpr Form kForms[] = {{dc::kRequestModuleName, kIn, 7, 7}, {dc::kRequestUsbSpeed, kIn, 1, 1},
                           {dc::kRequestRead, kIn, 1, kMax},    {dc::kRequestWrite, kOut, 1, kMax},
                           {dc::kRequestRun, kOut, 0, 0},       {dc::kRequestReloadPld, kOut, 0, 0},
                           {dc::kRequestVerifyPld, kOut, 0, 0}};

// The driver: the input of the run, the naming of the devices that the object opens, the requests
// sent, and the devices open.
FuzzedDataProvider* gIn = nullptr;
std::string gNaming;
uint32_t gVendorCode = 0;  // the code of the vendor requests, by the naming
// The object under test: its base interface, and the boot loader's unless it is the plain one.
IQUSBBASE* gBase = nullptr;
IR4690_BOOT_LOADER* gLoader = nullptr;
std::vector<Sent> gSent;
int gOpenDevices = 0;

// A request must have the form of its kind; the input answers it.
void Answer(Sent& s) {
  FuzzedDataProvider& in = *gIn;
  const size_t length = s.output.size();
  const bool info = s.ioControlCode == IOCTL_GET_DEVICE_INFO;
  FUZZ_CHECK(info ? s.input.empty() && length == dc::kDeviceInfoSize
                  : (s.ioControlCode == IOCTL_VENDOR_REQUEST ||
                     s.ioControlCode == IOCTL_USB_VENDOR_REQUEST) &&
                        s.input.size() == dc::kVendorRequestSize);
  if (!info) {
    const dc::VendorRequest& h = s.header = dc::DecodeVendorRequest(s.input.data());
    const Form* form = std::find_if(std::begin(kForms), std::end(kForms),
                                    [&](const Form& f) { return f.code == h.RequestCode; });
    FUZZ_CHECK(form != std::end(kForms) && h.Direction == form->direction &&
               length >= form->shortest && length <= form->longest);
    if (h.RequestCode == dc::kRequestRun) FUZZ_CHECK(h.Value == 0x0000 || h.Value == 0x3C00);
    FUZZ_CHECK((h.RequestCode != dc::kRequestReloadPld && h.RequestCode != dc::kRequestVerifyPld) ||
               (s.ioControlCode == IOCTL_VENDOR_REQUEST && h.Value == 0 && h.Index == 0));
  }
  // 1: the input's data and a count of its choice; 2: the input's data, all of it reported; 3: an
  // error; 4: no answer; otherwise what a healthy module answers.
  const uint8_t answer = in.ConsumeIntegralInRange<uint8_t>(0, 7);
  s.answered = answer != 4;
  if (answer == 3) s.error = in.ConsumeIntegral<uint32_t>() | 1;
  if (answer == 1) {
    s.data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, length + 16));
    s.information = in.ConsumeIntegralInRange<uint32_t>(0, length + 1);
  } else if (answer != 3 && answer != 4) {
    if (answer == 2) s.data = in.ConsumeBytes<uint8_t>(length);
    s.data.resize(length);
    const uint16_t kind = answer == 2 ? 0 : info ? 0xFFFF : s.header.RequestCode;
    if (kind == 0xFFFF) dc::SetModuleTypeCode(s.data.data(), 32);
    if (kind == dc::kRequestModuleName) std::memcpy(s.data.data(), "R46-90", 7);
    if (kind == dc::kRequestUsbSpeed) s.data[0] = 1;
    s.information = static_cast<uint32_t>(length);
  }
}

void Complete(OVERLAPPED* record, Event& event, qdev_posix::NtStatus status, DWORD information) {
  record->InternalHigh = information;
  record->Internal = status;
  event.Set();
}

// A device the object opened, and its requests that wait for an answer.
struct Device : qdev_posix::Object {
  Device() { ++gOpenDevices; }
  void Close() override { CancelAll(), --gOpenDevices; }
  void CancelAll() {
    for (auto& [record, event] : pending) Complete(record, *event, qdev_posix::kStatusCancelled, 0);
    pending.clear();
  }
  std::vector<std::pair<OVERLAPPED*, std::shared_ptr<Event>>> pending;
};

// The code of the last failure is one the library knows, and has a text.
void CheckLastError() {
  LastErrorInfo info;
  std::memset(&info, 0xEE, sizeof info);
  FUZZ_CHECK(gBase->GetLastErrorInfo(&info));
#define R4690_KNOWN_CODE(c, name, text) info.ErrorNumber == (c) ||
  FUZZ_CHECK(R4690_MODULE_ERROR_CODES(R4690_KNOWN_CODE) false);
#undef R4690_KNOWN_CODE
  const size_t n = strnlen(info.ErrorString, sizeof info.ErrorString);
  FUZZ_CHECK(n > 0 && n < sizeof info.ErrorString);
}

// A block transfer of the input's range: its requests are the chunks of [address, address + size)
// in order, each of at most 4096 bytes at its own address (wrapping at 2^32), with the data of a
// write; a read copies what the driver gave and no more; the transfer succeeds exactly when all
// of them were carried out whole, and stops at the first that was not.
bool Transfer() {
  FuzzedDataProvider& in = *gIn;
  const bool write = in.ConsumeBool();
  const uint8_t pick = in.ConsumeIntegralInRange<uint8_t>(0, 3);
  const uint32_t address =
      pick == 0   ? SEL_BOOT_FLASH + in.ConsumeIntegral<uint16_t>()
      : pick == 1 ? 0xFFFFFFFFu - in.ConsumeIntegralInRange<uint32_t>(0, 3 * dc::kMaxTransferSize)
      : pick == 2 ? module_addresses::kModuleDescription
                  : in.ConsumeIntegral<uint32_t>();
  const uint32_t size = in.ConsumeIntegralInRange<uint32_t>(0, 3 * dc::kMaxTransferSize + 7);
  std::vector<uint8_t> before = in.ConsumeBytes<uint8_t>(size);
  before.resize(size, 0x5A);
  std::unique_ptr<uint8_t[]> after(new uint8_t[size]);
  std::copy(before.begin(), before.end(), after.get());
  gSent.clear();
  const bool ok = write ? gLoader->PutArray(address, after.get(), size)
                        : gLoader->GetArray(address, after.get(), size);
  uint32_t offset = 0;
  for (size_t i = 0; i < gSent.size(); ++i) {
    const Sent& s = gSent[i];
    const uint32_t chunk = std::min(size - offset, dc::kMaxTransferSize), at = address + offset;
    FUZZ_CHECK(offset < size && s.ioControlCode == gVendorCode && s.output.size() == chunk &&
               s.header.RequestCode == (write ? dc::kRequestWrite : dc::kRequestRead) &&
               s.header.Value == (at & 0xFFFF) && s.header.Index == at >> 16);
    // A write sends the chunk's data; a read copies what the driver gave, the rest as it was.
    const auto from = before.begin() + offset;
    const size_t copied = !write && s.answered ? std::min<size_t>(s.data.size(), chunk) : 0;
    FUZZ_CHECK(write ? std::equal(s.output.begin(), s.output.end(), from)
                     : std::equal(s.data.begin(), s.data.begin() + copied, after.get() + offset) &&
                           std::equal(from + copied, from + chunk, after.get() + offset + copied));
    FUZZ_CHECK(s.done() || i + 1 == gSent.size());
    offset += chunk;
  }
  // Nothing beyond the chunks sent is touched, and success means that all of them were done.
  FUZZ_CHECK(std::equal(before.begin() + offset, before.end(), after.get() + offset));
  FUZZ_CHECK(!ok || (offset == size && !gSent.empty() && gSent.back().done()));
  FUZZ_CHECK(size != 0 || (!ok && gSent.empty()));
  return ok;
}

template <typename Record, bool (IR4690_BOOT_LOADER::*read)(Record*)>
bool ReadRecord() {
  return (gLoader->*read)(std::make_unique<Record>().get());
}

bool UserFlash() {
  const auto flash = std::make_unique<uint8_t[]>(module_addresses::kUserFlashSize);
  uint8_t* buffer = fuzz::OneIn8(*gIn) ? nullptr : flash.get();
  return gIn->ConsumeBool() ? gLoader->READ_USER_FLASH(buffer) : gLoader->WRITE_USER_FLASH(buffer);
}

// The operations: the first six of either interface, the rest of the boot loader's; each gives
// whether it succeeded.
bool (*const kOperations[])() = {
    [] { return gBase->OpenQDevice(gIn->ConsumeIntegralInRange<uint16_t>(0, 3)); },
    [] { return gBase->CloseDevice(); },
    [] { return gBase->GetModuleName(std::make_unique<char[]>(dc::kModuleNameLength).get()); },
    [] { return gBase->GetUsbSpeed(std::make_unique<uint8_t>().get()); },
    [] { return false; },  // only the check of the last failure's code
    [] {                   // platform faults: the n-th next close or event creation fails
      (gIn->ConsumeBool() ? qdev_test::FailNthCloseHandle : qdev_test::FailNthCreateEvent)(
          gIn->ConsumeIntegralInRange<uint32_t>(0, 4));
      return true;
    },
    Transfer,
    Transfer,
    [] {
      const uint32_t addresses[] = {module_addresses::kApplicationEntry,
                                    module_addresses::kBootLoaderEntry,
                                    gIn->ConsumeIntegral<uint32_t>()};
      return gLoader->RunMcuApplication(addresses[gIn->ConsumeIntegralInRange<size_t>(0, 2)],
                                        gIn->ConsumeIntegral<int32_t>());
    },
    [] { return gLoader->StartReloadPld(); },
    [] { return gLoader->VerifyPld(); },
    ReadRecord<ModuleDescription, &IR4690_BOOT_LOADER::GET_MODULE_DESCRIPTION>,
    ReadRecord<FirmwareDescription, &IR4690_BOOT_LOADER::GET_FIRMWARE_DESCRIPTION>,
    ReadRecord<BootLoaderDescription, &IR4690_BOOT_LOADER::GET_BOOT_LOADER_DESCRIPTION>,
    [] {
      const auto info = std::make_unique<PldInfo>();
      const bool ok = gLoader->GET_PLD_INFO(info.get());
      FUZZ_CHECK(!ok || FieldText(info->Manufacturer) == "Tevron Ltd.");
      return ok;
    },
    [] {
      return FUZZ_CHECK(gLoader->ENABLE_USER_FLASH_WRITE(gIn->ConsumeIntegral<int32_t>())), true;
    },
    UserFlash,
    UserFlash,
    [] { return gLoader->RunMcuApplication(module_addresses::kBootLoaderEntry, 0); },
    [] { return FUZZ_CHECK(!gLoader->GET_PLD_INFO(nullptr)), false; },
};

}  // namespace

// The platform's device calls, in place of its own (posix/device_io.cpp): a device opens when its
// name has the object's naming and a slot number, and the input lets it.
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags,
                          HANDLE) {
  FUZZ_CHECK(std::strncmp(name, dc::kDeviceNamespacePrefix, 4) == 0 &&
             (flags & FILE_FLAG_OVERLAPPED) != 0);
  const std::string device = name + 4;
  FUZZ_CHECK(device.size() > gNaming.size() && device.compare(0, gNaming.size(), gNaming) == 0 &&
             device.find_first_not_of("0123456789", gNaming.size()) == std::string::npos);
  if (fuzz::OneIn8(*gIn)) return SetLastError(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
  HANDLE handle = qdev_posix::RegisterHandle(std::make_shared<Device>());
  return handle != nullptr ? handle : (SetLastError(ERROR_NOT_ENOUGH_MEMORY), INVALID_HANDLE_VALUE);
}

// DeviceIoControl's Windows meaning (overlapped completion through the request's event, NTSTATUS
// in the completion record, cancellation by CancelIo and by closing the handle), answered
// in-process. The library opens its devices for overlapped I/O and waits on each request's event,
// with buffers of the sizes it gives; a request made otherwise is a finding.
BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, LPDWORD, LPOVERLAPPED overlapped) {
  const auto d = qdev_posix::LookupHandleAs<Device>(device);
  if (!d) return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  const std::shared_ptr<Event> event =
      overlapped ? qdev_posix::LookupHandleAs<Event>(overlapped->hEvent) : nullptr;
  FUZZ_CHECK(event != nullptr && (in != nullptr || inSize == 0) &&
             (out != nullptr || outSize == 0));
  overlapped->Internal = qdev_posix::kStatusPending;
  overlapped->InternalHigh = 0;
  event->Reset();
  Sent& s = gSent.emplace_back();
  s.ioControlCode = code;
  s.input.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
  s.output.assign(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + outSize);
  Answer(s);  // a request left unanswered has no data
  std::copy_n(s.data.begin(), std::min<size_t>(s.data.size(), outSize), static_cast<uint8_t*>(out));
  if (s.answered)
    Complete(overlapped, *event, qdev_posix::StatusFromError(s.error), s.information);
  else
    d->pending.push_back({overlapped, event});
  return SetLastError(ERROR_IO_PENDING), FALSE;
}

BOOL WINAPI GetOverlappedResult(HANDLE, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
  // Nothing completes a request but CancelIo or closing its handle: a wait would never end.
  const auto status = static_cast<qdev_posix::NtStatus>(overlapped->Internal);
  FUZZ_CHECK(status != qdev_posix::kStatusPending || !wait);
  if (status == qdev_posix::kStatusPending) return SetLastError(ERROR_IO_INCOMPLETE), FALSE;
  if (transferred != nullptr) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
  if (qdev_posix::StatusSucceeded(status)) return TRUE;
  return SetLastError(qdev_posix::ErrorFromStatus(status)), FALSE;
}

BOOL WINAPI CancelIo(HANDLE file) {
  if (qdev_posix::IsCurrentProcess(file)) return TRUE;
  const auto d = qdev_posix::LookupHandleAs<Device>(file);
  d ? d->CancelAll() : SetLastError(ERROR_INVALID_HANDLE);
  return d ? TRUE : FALSE;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  return qdev_test::SetWaitScale(0xFFFFFFFF), 0;  // a request never answered times out at once
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  qdev_test::ClearFaults();
  const bool plainBase = fuzz::OneIn8(in);
  const uint8_t driverKind = fuzz::OneIn8(in) ? 0 : 1;
  const int32_t skipNameCheck = fuzz::OneIn8(in) ? 1 : 0;
  // The plain interface always names its devices "QDev"; the boot loader by its DriverKind.
  const bool usbNaming = !plainBase && driverKind == 0;
  gIn = &in;
  gSent.clear();
  gNaming = dc::NamingPrefix(usbNaming ? dc::DeviceNaming::kQDevUsb : dc::DeviceNaming::kQDev);

  void* made = CreateInstance(plainBase ? kQusbBaseInterfaceName : kR4690BootLoaderInterfaceName,
                              driverKind, skipNameCheck);
  FUZZ_CHECK(made != nullptr);
  gLoader = plainBase ? nullptr : static_cast<IR4690_BOOT_LOADER*>(made);
  gBase = plainBase ? static_cast<IQUSBBASE*>(made) : gLoader;
  gVendorCode = usbNaming ? IOCTL_USB_VENDOR_REQUEST : IOCTL_VENDOR_REQUEST;
  // Up to 64 operations, as many as the input holds; each failure leaves a code with a text.
  constexpr size_t kLast = sizeof kOperations / sizeof *kOperations - 1;
  for (int n = 0; n < 64 && in.remaining_bytes() != 0; ++n) {
    const size_t op = in.ConsumeIntegralInRange<size_t>(0, gLoader != nullptr ? kLast : 5);
    if (!kOperations[op]()) CheckLastError();
  }
  gBase->ReleaseInstance();
  qdev_test::ClearFaults();
  FUZZ_CHECK(gOpenDevices == 0);
  return 0;
}
