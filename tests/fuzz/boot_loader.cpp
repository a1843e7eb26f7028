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
#include <memory>
#include <string>
#include <vector>

#include "contract/module_addresses.h"
#include "modlib/error_codes.h"
#include "modlib/interfaces.h"
#include "platform/testing/test_facilities.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scripted_device.h"

namespace {

namespace dc = driver_contract;

struct Sent {
  scripted_device::Request request;
  dc::VendorRequest header{};
  scripted_device::Answer answer;
  bool done() const {  // carried out whole, as the library counts it
    return answer.answered && answer.error == 0 && answer.information == request.output.size();
  }
};

// The form of each kind of vendor request: its direction, and the data lengths it may have.
struct Form {
  uint16_t code, direction;
  size_t shortest, longest;
};
constexpr Form kForms[] = {{dc::kRequestModuleName, dc::kDirectionToHost, 7, 7},
                           {dc::kRequestUsbSpeed, dc::kDirectionToHost, 1, 1},
                           {dc::kRequestRead, dc::kDirectionToHost, 1, dc::kMaxTransferSize},
                           {dc::kRequestWrite, dc::kDirectionToModule, 1, dc::kMaxTransferSize},
                           {dc::kRequestRun, dc::kDirectionToModule, 0, 0},
                           {dc::kRequestReloadPld, dc::kDirectionToModule, 0, 0},
                           {dc::kRequestVerifyPld, dc::kDirectionToModule, 0, 0}};

class InputDriver final : public scripted_device::Driver {
 public:
  InputDriver(FuzzedDataProvider& in, dc::DeviceNaming naming)
      : in_(in), naming_(dc::NamingPrefix(naming)) {}

  std::vector<Sent> sent;

  // Devices are opened by the object's naming and a slot number.
  bool Open(const std::string& device) override {
    FUZZ_CHECK(device.size() > naming_.size() && device.compare(0, naming_.size(), naming_) == 0);
    FUZZ_CHECK(device.find_first_not_of("0123456789", naming_.size()) == std::string::npos);
    return !fuzz::OneIn8(in_);
  }

  scripted_device::Answer Handle(const scripted_device::Request& r) override {
    Sent s;
    s.request = r;
    const size_t length = r.output.size();
    const bool info = r.ioControlCode == IOCTL_GET_DEVICE_INFO;
    FUZZ_CHECK(!info || (r.input.empty() && length == dc::kDeviceInfoSize));
    if (!info) {
      FUZZ_CHECK(r.ioControlCode == IOCTL_VENDOR_REQUEST ||
                 r.ioControlCode == IOCTL_USB_VENDOR_REQUEST);
      FUZZ_CHECK(r.input.size() == dc::kVendorRequestSize);
      s.header = dc::DecodeVendorRequest(r.input.data());
      const dc::VendorRequest& h = s.header;
      const Form* form = std::find_if(std::begin(kForms), std::end(kForms),
                                      [&](const Form& f) { return f.code == h.RequestCode; });
      FUZZ_CHECK(form != std::end(kForms) && h.Direction == form->direction);
      FUZZ_CHECK(length >= form->shortest && length <= form->longest);
      if (h.RequestCode == dc::kRequestRun) FUZZ_CHECK(h.Value == 0x0000 || h.Value == 0x3C00);
      if (h.RequestCode == dc::kRequestReloadPld || h.RequestCode == dc::kRequestVerifyPld) {
        FUZZ_CHECK(r.ioControlCode == IOCTL_VENDOR_REQUEST && h.Value == 0 && h.Index == 0);
      }
    }
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
      default:  // what a healthy module answers
        s.answer.data.assign(length, 0);
        if (info) dc::SetModuleTypeCode(s.answer.data.data(), 32);
        if (!info && s.header.RequestCode == dc::kRequestModuleName) {
          std::memcpy(s.answer.data.data(), "R46-90", 7);
        }
        if (!info && s.header.RequestCode == dc::kRequestUsbSpeed) s.answer.data[0] = 1;
        s.answer.information = static_cast<uint32_t>(length);
    }
    sent.push_back(s);
    return s.answer;
  }

 private:
  FuzzedDataProvider& in_;
  const std::string naming_;
};

// The code of the last failure is one the library knows, and has a text.
void CheckLastError(IQUSBBASE* object) {
  LastErrorInfo info;
  std::memset(&info, 0xEE, sizeof info);
  FUZZ_CHECK(object->GetLastErrorInfo(&info));
#define R4690_KNOWN_CODE(c, name, text) info.ErrorNumber == (c) ||
  FUZZ_CHECK(R4690_MODULE_ERROR_CODES(R4690_KNOWN_CODE) false);
#undef R4690_KNOWN_CODE
  const size_t n = strnlen(info.ErrorString, sizeof info.ErrorString);
  FUZZ_CHECK(n > 0 && n < sizeof info.ErrorString);
}

struct Context {
  FuzzedDataProvider& in;
  IQUSBBASE* base;
  IR4690_BOOT_LOADER* loader;
  InputDriver& driver;
  uint32_t vendorCode;
};

// A block transfer of the input's range: its requests are the chunks of [address, address + size)
// in order, each of at most 4096 bytes at its own address (wrapping at 2^32), with the data of a
// write; a read copies what the driver gave and no more; the transfer succeeds exactly when all
// of them were carried out whole, and stops at the first that was not.
bool Transfer(Context& c) {
  FuzzedDataProvider& in = c.in;
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
  if (size != 0) std::memcpy(after.get(), before.data(), size);
  c.driver.sent.clear();
  const bool ok = write ? c.loader->PutArray(address, after.get(), size)
                        : c.loader->GetArray(address, after.get(), size);
  uint32_t offset = 0;
  for (size_t i = 0; i < c.driver.sent.size(); ++i) {
    const Sent& s = c.driver.sent[i];
    FUZZ_CHECK(offset < size);
    const uint32_t chunk = std::min(size - offset, dc::kMaxTransferSize);
    const uint32_t at = address + offset;
    FUZZ_CHECK(s.request.ioControlCode == c.vendorCode);
    FUZZ_CHECK(s.header.RequestCode == (write ? dc::kRequestWrite : dc::kRequestRead));
    FUZZ_CHECK(s.header.Value == (at & 0xFFFF) && s.header.Index == at >> 16);
    FUZZ_CHECK(s.request.output.size() == chunk);
    if (write) {
      FUZZ_CHECK(std::memcmp(s.request.output.data(), before.data() + offset, chunk) == 0);
    } else {  // what the driver copied into the chunk, and the rest of it as it was
      const size_t copied = s.answer.answered ? std::min<size_t>(s.answer.data.size(), chunk) : 0;
      FUZZ_CHECK(copied == 0 ||
                 std::memcmp(after.get() + offset, s.answer.data.data(), copied) == 0);
      FUZZ_CHECK(std::memcmp(after.get() + offset + copied, before.data() + offset + copied,
                             chunk - copied) == 0);
    }
    FUZZ_CHECK(s.done() || i + 1 == c.driver.sent.size());
    offset += chunk;
  }
  // Nothing beyond the chunks sent is touched, and success means that all of them were done.
  FUZZ_CHECK(size == offset ||
             std::memcmp(after.get() + offset, before.data() + offset, size - offset) == 0);
  FUZZ_CHECK(!ok || (offset == size && !c.driver.sent.empty() && c.driver.sent.back().done()));
  FUZZ_CHECK(size != 0 || (!ok && c.driver.sent.empty()));
  return ok;
}

template <typename Record>
bool ReadRecord(IR4690_BOOT_LOADER* object, bool (IR4690_BOOT_LOADER::*read)(Record*)) {
  return (object->*read)(std::make_unique<Record>().get());
}

bool UserFlash(Context& c) {
  const auto flash = std::make_unique<uint8_t[]>(module_addresses::kUserFlashSize);
  uint8_t* buffer = fuzz::OneIn8(c.in) ? nullptr : flash.get();
  return c.in.ConsumeBool() ? c.loader->READ_USER_FLASH(buffer)
                            : c.loader->WRITE_USER_FLASH(buffer);
}

// The operations: the first six of either interface, the rest of the boot loader's; each gives
// whether it succeeded.
bool (*const kOperations[])(Context&) = {
    [](Context& c) { return c.base->OpenQDevice(c.in.ConsumeIntegralInRange<uint16_t>(0, 3)); },
    [](Context& c) { return c.base->CloseDevice(); },
    [](Context& c) {
      return c.base->GetModuleName(std::make_unique<char[]>(dc::kModuleNameLength).get());
    },
    [](Context& c) {
      uint8_t speed = 0;
      return c.base->GetUsbSpeed(&speed);
    },
    [](Context&) { return false; },  // only the check of the last failure's code
    [](Context& c) {                 // platform faults: the n-th next close or event creation fails
      const bool close = c.in.ConsumeBool();
      (close ? qdev_test::FailNthCloseHandle
             : qdev_test::FailNthCreateEvent)(c.in.ConsumeIntegralInRange<uint32_t>(0, 4));
      return true;
    },
    Transfer,
    Transfer,
    [](Context& c) {
      const uint32_t addresses[] = {module_addresses::kApplicationEntry,
                                    module_addresses::kBootLoaderEntry,
                                    c.in.ConsumeIntegral<uint32_t>()};
      return c.loader->RunMcuApplication(addresses[c.in.ConsumeIntegralInRange<size_t>(0, 2)],
                                         c.in.ConsumeIntegral<int32_t>());
    },
    [](Context& c) { return c.loader->StartReloadPld(); },
    [](Context& c) { return c.loader->VerifyPld(); },
    [](Context& c) { return ReadRecord(c.loader, &IR4690_BOOT_LOADER::GET_MODULE_DESCRIPTION); },
    [](Context& c) { return ReadRecord(c.loader, &IR4690_BOOT_LOADER::GET_FIRMWARE_DESCRIPTION); },
    [](Context& c) {
      return ReadRecord(c.loader, &IR4690_BOOT_LOADER::GET_BOOT_LOADER_DESCRIPTION);
    },
    [](Context& c) {
      const auto info = std::make_unique<PldInfo>();
      const bool ok = c.loader->GET_PLD_INFO(info.get());
      FUZZ_CHECK(!ok || FieldText(info->Manufacturer) == "Tevron Ltd.");
      return ok;
    },
    [](Context& c) {
      FUZZ_CHECK(c.loader->ENABLE_USER_FLASH_WRITE(c.in.ConsumeIntegral<int32_t>()));
      return true;
    },
    UserFlash,
    UserFlash,
    [](Context& c) { return c.loader->RunMcuApplication(module_addresses::kBootLoaderEntry, 0); },
    [](Context& c) {
      FUZZ_CHECK(!c.loader->GET_PLD_INFO(nullptr));
      return false;
    },
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A request that is never answered times out at once.
  qdev_test::SetWaitScale(0xFFFFFFFF);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  qdev_test::ClearFaults();
  const bool plainBase = fuzz::OneIn8(in);
  const uint8_t driverKind = fuzz::OneIn8(in) ? 0 : 1;
  const int32_t skipNameCheck = fuzz::OneIn8(in) ? 1 : 0;
  // The plain interface always names its devices "QDev"; the boot loader by its DriverKind.
  const bool usbNaming = !plainBase && driverKind == 0;
  InputDriver driver(in, usbNaming ? dc::DeviceNaming::kQDevUsb : dc::DeviceNaming::kQDev);
  scripted_device::Install(&driver);

  void* made = CreateInstance(plainBase ? kQusbBaseInterfaceName : kR4690BootLoaderInterfaceName,
                              driverKind, skipNameCheck);
  FUZZ_CHECK(made != nullptr);
  auto* loader = plainBase ? nullptr : static_cast<IR4690_BOOT_LOADER*>(made);
  IQUSBBASE* base = plainBase ? static_cast<IQUSBBASE*>(made) : loader;
  Context c{in, base, loader, driver, usbNaming ? IOCTL_USB_VENDOR_REQUEST : IOCTL_VENDOR_REQUEST};
  // Up to 64 operations, as many as the input holds; each failure leaves a code with a text.
  constexpr size_t kLast = sizeof kOperations / sizeof *kOperations - 1;
  for (int n = 0; n < 64 && in.remaining_bytes() != 0; ++n) {
    if (!kOperations[in.ConsumeIntegralInRange<size_t>(0, loader != nullptr ? kLast : 5)](c)) {
      CheckLastError(base);
    }
  }
  base->ReleaseInstance();
  qdev_test::ClearFaults();
  FUZZ_CHECK(scripted_device::OpenDevices() == 0);
  scripted_device::Install(nullptr);
  return 0;
}
