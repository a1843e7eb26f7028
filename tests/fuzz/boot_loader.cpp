// Fuzz target: the module interface library's operations against a driver whose every answer
// comes from the input (scripted_device.h): which devices open, and for each request a complete
// answer, an error, no answer at all (the time-out path, with waits made instant), or a byte
// count that is not the one asked for, with data shorter or longer than the buffer. The input
// also picks the operations, their addresses (up to and past 0xFFFFFFFF), their sizes (odd ones,
// and past one request's 4096 bytes) and platform faults. Every buffer is a block of its exact
// size. Each request must have the form of its kind; a block transfer must go out as the chunks
// of its range in order, succeed only when every chunk was carried out whole and stop at the
// first that was not; a failure must leave a code that has a text; and releasing the object must
// close every device it opened.
//
// Input (FuzzedDataProvider): the interface, then operations with their arguments, interleaved
// with the driver's answers as the requests come.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "contract/driver_contract.h"
#include "contract/module_addresses.h"
#include "modlib/error_codes.h"
#include "modlib/interfaces.h"
#include "platform/testing/test_facilities.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scripted_device.h"

namespace {

namespace dc = driver_contract;

// What a healthy module answers, for requests whose answer the input leaves to the driver.
std::vector<uint8_t> HealthyAnswer(const dc::VendorRequest* header, size_t length) {
  std::vector<uint8_t> data(length, 0);
  if (header == nullptr) {
    if (length >= dc::kDeviceInfoSize) dc::SetModuleTypeCode(data.data(), 32);
  } else if (header->RequestCode == dc::kRequestModuleName) {
    std::memcpy(data.data(), "R46-90", std::min<size_t>(length, 7));
  } else if (header->RequestCode == dc::kRequestUsbSpeed && length == 1) {
    data[0] = 1;
  }
  return data;
}

struct Sent {
  scripted_device::Request request;
  bool hasHeader = false;
  dc::VendorRequest header{};
  scripted_device::Answer answer;
  bool done() const {  // carried out whole, as the library counts it
    return answer.answered && answer.error == 0 && answer.information == request.output.size();
  }
};

class InputDriver final : public scripted_device::Driver {
 public:
  InputDriver(FuzzedDataProvider& in, dc::DeviceNaming naming)
      : in_(in), naming_(dc::NamingPrefix(naming)) {}

  std::vector<Sent> sent;

  // Devices are opened by the object's naming and a slot number.
  bool Open(const std::string& device) override {
    FUZZ_CHECK(device.size() > naming_.size() && device.compare(0, naming_.size(), naming_) == 0);
    FUZZ_CHECK(device.find_first_not_of("0123456789", naming_.size()) == std::string::npos);
    return in_.ConsumeIntegralInRange<uint8_t>(0, 7) != 1;
  }

  scripted_device::Answer Handle(const scripted_device::Request& request) override {
    Sent s;
    s.request = request;
    CheckForm(&s);
    const size_t length = request.output.size();
    switch (in_.ConsumeIntegralInRange<uint8_t>(0, 7)) {
      case 1:  // the input's data, and a count of its choice
        s.answer.data =
            in_.ConsumeBytes<uint8_t>(in_.ConsumeIntegralInRange<size_t>(0, length + 16));
        s.answer.information = in_.ConsumeIntegralInRange<uint32_t>(0, length + 1);
        break;
      case 2:  // the input's data, all of it reported
        s.answer.data = in_.ConsumeBytes<uint8_t>(length);
        s.answer.data.resize(length);
        s.answer.information = static_cast<uint32_t>(length);
        break;
      case 3:
        s.answer.error = in_.ConsumeIntegral<uint32_t>() | 1;
        break;
      case 4:
        s.answer.answered = false;
        break;
      default:
        s.answer.data = HealthyAnswer(s.hasHeader ? &s.header : nullptr, length);
        s.answer.information = static_cast<uint32_t>(length);
        break;
    }
    sent.push_back(s);
    return s.answer;
  }

 private:
  // The form of each kind of request: the header's direction and the data length it needs.
  static void CheckForm(Sent* s) {
    const scripted_device::Request& r = s->request;
    const size_t length = r.output.size();
    if (r.ioControlCode == IOCTL_GET_DEVICE_INFO) {
      FUZZ_CHECK(r.input.empty() && length == dc::kDeviceInfoSize);
      return;
    }
    FUZZ_CHECK(r.ioControlCode == IOCTL_VENDOR_REQUEST ||
               r.ioControlCode == IOCTL_USB_VENDOR_REQUEST);
    FUZZ_CHECK(r.input.size() == dc::kVendorRequestSize);
    s->hasHeader = true;
    s->header = dc::DecodeVendorRequest(r.input.data());
    const dc::VendorRequest& h = s->header;
    switch (h.RequestCode) {
      case dc::kRequestModuleName:
        FUZZ_CHECK(h.Direction == dc::kDirectionToHost && length == dc::kModuleNameLength);
        break;
      case dc::kRequestUsbSpeed:
        FUZZ_CHECK(h.Direction == dc::kDirectionToHost && length == dc::kUsbSpeedLength);
        break;
      case dc::kRequestRead:
        FUZZ_CHECK(h.Direction == dc::kDirectionToHost);
        FUZZ_CHECK(length >= 1 && length <= dc::kMaxTransferSize);
        break;
      case dc::kRequestWrite:
        FUZZ_CHECK(h.Direction == dc::kDirectionToModule);
        FUZZ_CHECK(length >= 1 && length <= dc::kMaxTransferSize);
        break;
      case dc::kRequestRun:
        FUZZ_CHECK(h.Direction == dc::kDirectionToModule && length == 0);
        FUZZ_CHECK(h.Value == 0x0000 || h.Value == 0x3C00);
        break;
      case dc::kRequestReloadPld:
      case dc::kRequestVerifyPld:
        FUZZ_CHECK(h.Direction == dc::kDirectionToModule && length == 0);
        FUZZ_CHECK(r.ioControlCode == IOCTL_VENDOR_REQUEST && h.Value == 0 && h.Index == 0);
        break;
      default:
        FUZZ_CHECK(!"a request code the library does not send");
    }
  }

  FuzzedDataProvider& in_;
  const std::string naming_;
};

bool KnownCode(uint32_t code) {
#define R4690_KNOWN_CODE(c, name, text) code == (c) ||
  return R4690_MODULE_ERROR_CODES(R4690_KNOWN_CODE) false;
#undef R4690_KNOWN_CODE
}

// The code of the last failure has a text.
void CheckLastError(IQUSBBASE* object) {
  LastErrorInfo info;
  std::memset(&info, 0xEE, sizeof info);
  FUZZ_CHECK(object->GetLastErrorInfo(&info));
  FUZZ_CHECK(KnownCode(info.ErrorNumber));
  const size_t n = strnlen(info.ErrorString, sizeof info.ErrorString);
  FUZZ_CHECK(n > 0 && n < sizeof info.ErrorString);
}

uint32_t PickAddress(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<uint8_t>(0, 3)) {
    case 0:
      return SEL_BOOT_FLASH + in.ConsumeIntegral<uint16_t>();
    case 1:
      return 0xFFFFFFFFu - in.ConsumeIntegralInRange<uint32_t>(0, 3 * dc::kMaxTransferSize);
    case 2:
      return module_addresses::kModuleDescription;
    default:
      return in.ConsumeIntegral<uint32_t>();
  }
}

// A block transfer's requests: the chunks of [address, address + size) in order, each of at most
// 4096 bytes at its own address (wrapping at 2^32), with the data of a write; the transfer
// succeeds exactly when all of them were carried out whole, and stops at the first that was not.
void CheckTransfer(const std::vector<Sent>& sent, bool ok, uint16_t code, uint32_t vendorCode,
                   uint32_t address, const uint8_t* before, const uint8_t* after, uint32_t size) {
  uint32_t offset = 0;
  for (size_t i = 0; i < sent.size(); ++i) {
    const Sent& s = sent[i];
    FUZZ_CHECK(offset < size);
    const uint32_t chunk = std::min(size - offset, dc::kMaxTransferSize);
    const uint32_t at = address + offset;
    FUZZ_CHECK(s.request.ioControlCode == vendorCode);
    FUZZ_CHECK(s.header.RequestCode == code);
    FUZZ_CHECK(s.header.Value == (at & 0xFFFF) && s.header.Index == at >> 16);
    FUZZ_CHECK(s.request.output.size() == chunk);
    if (code == dc::kRequestWrite) {
      FUZZ_CHECK(std::memcmp(s.request.output.data(), before + offset, chunk) == 0);
    } else {
      // What the driver copied into the chunk, and the rest of it as it was.
      const size_t copied = s.answer.answered ? std::min<size_t>(s.answer.data.size(), chunk) : 0;
      FUZZ_CHECK(copied == 0 || std::memcmp(after + offset, s.answer.data.data(), copied) == 0);
      FUZZ_CHECK(std::memcmp(after + offset + copied, before + offset + copied, chunk - copied) ==
                 0);
    }
    FUZZ_CHECK(s.done() || i + 1 == sent.size());
    offset += chunk;
  }
  // Nothing beyond the chunks sent is touched, and success means that all of them were done.
  FUZZ_CHECK(size == offset || std::memcmp(after + offset, before + offset, size - offset) == 0);
  FUZZ_CHECK(!ok || (offset == size && !sent.empty() && sent.back().done()));
}

void Transfer(FuzzedDataProvider& in, IR4690_BOOT_LOADER* object, InputDriver& driver,
              uint32_t vendorCode, bool write) {
  const uint32_t address = PickAddress(in);
  const uint32_t size = in.ConsumeIntegralInRange<uint32_t>(0, 3 * dc::kMaxTransferSize + 7);
  std::vector<uint8_t> before = in.ConsumeBytes<uint8_t>(size);
  before.resize(size, 0x5A);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
  if (size != 0) std::memcpy(buffer.get(), before.data(), size);
  driver.sent.clear();
  const bool ok = write ? object->PutArray(address, buffer.get(), size)
                        : object->GetArray(address, buffer.get(), size);
  CheckTransfer(driver.sent, ok, write ? dc::kRequestWrite : dc::kRequestRead, vendorCode, address,
                before.data(), buffer.get(), size);
  if (size == 0) FUZZ_CHECK(!ok && driver.sent.empty());
  if (!ok) CheckLastError(object);
}

template <typename Record>
bool ReadRecord(IR4690_BOOT_LOADER* object, bool (IR4690_BOOT_LOADER::*read)(Record*)) {
  std::unique_ptr<Record> record(new Record);
  return (object->*read)(record.get());
}

// One operation of either interface, chosen by the input; false once the input is used up.
bool Operate(FuzzedDataProvider& in, IQUSBBASE* base, IR4690_BOOT_LOADER* loader,
             InputDriver& driver, uint32_t vendorCode) {
  if (in.remaining_bytes() == 0) return false;
  bool ok = true;
  switch (in.ConsumeIntegralInRange<uint8_t>(0, loader != nullptr ? 19 : 5)) {
    case 0:
      ok = base->OpenQDevice(in.ConsumeIntegralInRange<uint16_t>(0, 3));
      break;
    case 1:
      ok = base->CloseDevice();
      break;
    case 2: {
      std::unique_ptr<char[]> name(new char[dc::kModuleNameLength]);
      ok = base->GetModuleName(name.get());
      break;
    }
    case 3: {
      uint8_t speed = 0;
      ok = base->GetUsbSpeed(&speed);
      break;
    }
    case 4:
      CheckLastError(base);
      break;
    case 5:
      // Platform faults: the n-th next close or event creation fails.
      if (in.ConsumeBool()) {
        qdev_test::FailNthCloseHandle(in.ConsumeIntegralInRange<uint32_t>(0, 4));
      } else {
        qdev_test::FailNthCreateEvent(in.ConsumeIntegralInRange<uint32_t>(0, 4));
      }
      break;
    case 6:
    case 7:
      Transfer(in, loader, driver, vendorCode, in.ConsumeBool());
      break;
    case 8: {
      const uint32_t addresses[] = {module_addresses::kApplicationEntry,
                                    module_addresses::kBootLoaderEntry,
                                    in.ConsumeIntegral<uint32_t>()};
      ok = loader->RunMcuApplication(addresses[in.ConsumeIntegralInRange<size_t>(0, 2)],
                                     in.ConsumeIntegral<int32_t>());
      break;
    }
    case 9:
      ok = loader->StartReloadPld();
      break;
    case 10:
      ok = loader->VerifyPld();
      break;
    case 11:
      ok = ReadRecord(loader, &IR4690_BOOT_LOADER::GET_MODULE_DESCRIPTION);
      break;
    case 12:
      ok = ReadRecord(loader, &IR4690_BOOT_LOADER::GET_FIRMWARE_DESCRIPTION);
      break;
    case 13:
      ok = ReadRecord(loader, &IR4690_BOOT_LOADER::GET_BOOT_LOADER_DESCRIPTION);
      break;
    case 14: {
      std::unique_ptr<PldInfo> info(new PldInfo);
      ok = loader->GET_PLD_INFO(info.get());
      if (ok) FUZZ_CHECK(FieldText(info->Manufacturer) == "Tevron Ltd.");
      break;
    }
    case 15:
      ok = loader->ENABLE_USER_FLASH_WRITE(in.ConsumeIntegral<int32_t>());
      FUZZ_CHECK(ok);
      break;
    case 16:
    case 17: {
      const bool none = in.ConsumeIntegralInRange<uint8_t>(0, 7) == 1;
      std::unique_ptr<uint8_t[]> flash(new uint8_t[module_addresses::kUserFlashSize]());
      uint8_t* buffer = none ? nullptr : flash.get();
      ok = in.ConsumeBool() ? loader->READ_USER_FLASH(buffer) : loader->WRITE_USER_FLASH(buffer);
      break;
    }
    case 18:
      ok = loader->RunMcuApplication(module_addresses::kBootLoaderEntry, FALSE);
      break;
    default:
      ok = loader->GET_PLD_INFO(nullptr);
      FUZZ_CHECK(!ok);
      break;
  }
  if (!ok) CheckLastError(base);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A request that is never answered times out at once.
  qdev_test::SetWaitScale(0xFFFFFFFF);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  qdev_test::ClearFaults();
  const bool plainBase = in.ConsumeIntegralInRange<uint8_t>(0, 7) == 1;
  const uint8_t driverKind = in.ConsumeIntegralInRange<uint8_t>(0, 7) == 1 ? 0 : 1;
  const int32_t skipNameCheck = in.ConsumeIntegralInRange<uint8_t>(0, 7) == 1 ? 1 : 0;
  // The plain interface always names its devices "QDev"; the boot loader by its DriverKind.
  const bool usbNaming = !plainBase && driverKind == 0;
  InputDriver driver(in, usbNaming ? dc::DeviceNaming::kQDevUsb : dc::DeviceNaming::kQDev);
  scripted_device::Install(&driver);

  void* made = CreateInstance(plainBase ? kQusbBaseInterfaceName : kR4690BootLoaderInterfaceName,
                              driverKind, skipNameCheck);
  FUZZ_CHECK(made != nullptr);
  IQUSBBASE* base = nullptr;
  IR4690_BOOT_LOADER* loader = nullptr;
  if (plainBase) {
    base = static_cast<IQUSBBASE*>(made);
  } else {
    loader = static_cast<IR4690_BOOT_LOADER*>(made);
    base = loader;
  }
  const uint32_t vendorCode = usbNaming ? IOCTL_USB_VENDOR_REQUEST : IOCTL_VENDOR_REQUEST;

  for (int operations = 0; operations < 64 && Operate(in, base, loader, driver, vendorCode);
       ++operations) {
  }
  base->ReleaseInstance();
  qdev_test::ClearFaults();
  FUZZ_CHECK(scripted_device::OpenDevices() == 0);
  scripted_device::Install(nullptr);
  return 0;
}
