// A kernel-mode stand-in for the R46-90 module's driver, so that the Windows build of the utility
// runs against the real Win32 I/O manager (under Wine in our tests). It creates the QDev devices
// listed in its service key and forwards every I/O-control request, unchanged, to the module model
// in a user-mode host, one named pipe per device, in the framing of platform/device_frame.h.
//
// A request is queued with a cancel routine and left pending while it travels; the reader thread
// of its device completes it when the model's reply arrives. A request that the model never
// answers stays pending until the caller cancels it (CancelIo, its handle closed), so that the
// caller's time-out and cancellation run for real. When the pipe breaks, every pending and every
// later request fails with STATUS_DEVICE_NOT_CONNECTED.
//
// Only ntoskrnl is imported, as in any kernel driver: no C or C++ runtime, no exceptions, no
// global constructors.
#include <ntifs.h>

#include "contract/driver_contract.h"
#include "platform/device_frame.h"
#include "tests/wine/stand_in_names.h"

namespace {

constexpr ULONG kPoolTag = 0x30394452;  // "RD90" in pool dumps
constexpr ULONG kMaxDevices = 32;
// A reply carries at most the output buffer of one request; the largest is 4096 bytes.
constexpr ULONG kMaxReplyPayload = 65536;
constexpr ULONG kReplyBufferSize = qdev_frame::kHeaderSize + kMaxReplyPayload;
constexpr USHORT kNameBufferChars = 64;

struct StandInDevice {
  UNICODE_STRING linkName;  // \DosDevices\QDevN, removed at unload
  WCHAR linkBuffer[kNameBufferChars];
  HANDLE pipe;        // kernel handle of this device's pipe to the model
  HANDLE writeEvent;  // completion of the pipe writes (under writeLock)
  HANDLE readEvent;   // completion of the reader thread's pipe reads
  HANDLE readerThread;
  KMUTEX writeLock;  // one frame at a time on the pipe
  KSPIN_LOCK pendingLock;
  LIST_ENTRY pending;  // IRPs sent to the model and not completed, linked by Tail.Overlay.ListEntry
  LONG nextId;         // request ids are never reused on one pipe
  BOOLEAN broken;      // the pipe has gone: requests fail at once
  UCHAR* replyBuffer;  // the reader thread's frame buffer, kReplyBufferSize bytes
};

StandInDevice* ExtensionOf(PDEVICE_OBJECT device) {
  return static_cast<StandInDevice*>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// The model reports Windows error values; the I/O manager wants the status that maps to each.
NTSTATUS StatusOf(ULONG windowsError) {
  if (windowsError == 0) return STATUS_SUCCESS;
  if (windowsError == 1) return STATUS_INVALID_DEVICE_REQUEST;   // ERROR_INVALID_FUNCTION
  if (windowsError == 87) return STATUS_INVALID_PARAMETER;       // ERROR_INVALID_PARAMETER
  if (windowsError == 1167) return STATUS_DEVICE_NOT_CONNECTED;  // ERROR_DEVICE_NOT_CONNECTED
  return STATUS_UNSUCCESSFUL;  // ERROR_GEN_FAILURE (31), the model's refusal, and anything else
}

// prefix + infix + name into a caller's buffer; false when it does not fit.
bool BuildName(UNICODE_STRING* out, WCHAR* buffer, const wchar_t* prefix, const char* infix,
               const WCHAR* name, USHORT nameChars) {
  USHORT n = 0;  // characters so far, written while they fit with the terminating zero
  const auto add = [&](WCHAR c) {
    if (n < kNameBufferChars - 1) buffer[n] = c;
    ++n;
  };
  for (const wchar_t* p = prefix; *p != L'\0'; ++p) add(static_cast<WCHAR>(*p));
  for (const char* p = infix; *p != '\0'; ++p) add(static_cast<WCHAR>(*p));
  for (USHORT i = 0; i < nameChars; ++i) add(name[i]);
  if (n >= kNameBufferChars) return false;
  buffer[n] = L'\0';
  out->Buffer = buffer;
  out->Length = static_cast<USHORT>(n * sizeof(WCHAR));
  out->MaximumLength = static_cast<USHORT>(kNameBufferChars * sizeof(WCHAR));
  return true;
}

// --- the pipe ---------------------------------------------------------------------------------

// Moves `size` bytes through the pipe, in as many calls as it takes; false when the pipe fails.
bool Transfer(StandInDevice* device, bool write, UCHAR* data, ULONG size) {
  const HANDLE event = write ? device->writeEvent : device->readEvent;
  for (ULONG done = 0; done < size;) {
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset{};
    NTSTATUS status = write ? ZwWriteFile(device->pipe, event, nullptr, nullptr, &io, data + done,
                                          size - done, &offset, nullptr)
                            : ZwReadFile(device->pipe, event, nullptr, nullptr, &io, data + done,
                                         size - done, &offset, nullptr);
    if (status == STATUS_PENDING) {
      ZwWaitForSingleObject(event, FALSE, nullptr);
      status = io.Status;
    }
    if (!NT_SUCCESS(status) || io.Information == 0) return false;
    done += static_cast<ULONG>(io.Information);
  }
  return true;
}

// --- pending requests -------------------------------------------------------------------------

// The cancel routine of a pending request: it leaves the queue and completes as cancelled. The
// model is not told; its late reply, if any, finds no request with that id and is dropped.
void CancelPending(PDEVICE_OBJECT deviceObject, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  StandInDevice* device = ExtensionOf(deviceObject);
  KIRQL irql;
  KeAcquireSpinLock(&device->pendingLock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&device->pendingLock, irql);
  Complete(irp, STATUS_CANCELLED, 0);
}

// Takes a pending request off the queue for completion: the one with `id`, or (with `file`) any
// one of that file object, or (both null) any one. Null when there is none, or when its cancel
// routine already owns it.
PIRP TakePending(StandInDevice* device, bool byId, ULONG id, PFILE_OBJECT file) {
  KIRQL irql;
  KeAcquireSpinLock(&device->pendingLock, &irql);
  PIRP taken = nullptr;
  for (PLIST_ENTRY e = device->pending.Flink; e != &device->pending; e = e->Flink) {
    PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
    // A pending IRP keeps its request id, and the system address of its output buffer, in its
    // driver context.
    if (byId && reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[0]) != id) continue;
    if (file != nullptr && IoGetCurrentIrpStackLocation(irp)->FileObject != file) continue;
    if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
      if (byId) break;  // being cancelled: the cancel routine completes it
      continue;
    }
    RemoveEntryList(e);
    taken = irp;
    break;
  }
  KeReleaseSpinLock(&device->pendingLock, irql);
  return taken;
}

void FailAllPending(StandInDevice* device, PFILE_OBJECT file, NTSTATUS status) {
  for (PIRP irp; (irp = TakePending(device, false, 0, file)) != nullptr;) Complete(irp, status, 0);
}

// Completes the request that a reply answers; a reply for a request that is gone is dropped.
void CompleteReply(StandInDevice* device, const qdev_frame::Frame& frame) {
  const auto& reply = frame.header.reply;
  PIRP irp = TakePending(device, true, frame.header.id, nullptr);
  if (irp == nullptr) return;
  const ULONG outputSize =
      IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
  auto* output = static_cast<UCHAR*>(irp->Tail.Overlay.DriverContext[1]);
  for (ULONG i = 0; output != nullptr && i < reply.dataSize && i < outputSize; ++i)
    output[i] = frame.payload[i];
  Complete(irp, StatusOf(reply.error),
           reply.information < outputSize ? reply.information : outputSize);
}

// One per device: reads the model's replies until the pipe breaks or carries garbage.
void ReaderThread(PVOID context) {
  StandInDevice* device = static_cast<StandInDevice*>(context);
  UCHAR* buffer = device->replyBuffer;
  for (;;) {
    // The header first, which tells how much follows, then the rest of the frame after it.
    if (!Transfer(device, false, buffer, qdev_frame::kHeaderSize)) break;
    qdev_frame::Frame frame;
    qdev_frame::Decoded decoded = qdev_frame::DecodeFrame(buffer, qdev_frame::kHeaderSize, &frame);
    if (decoded == qdev_frame::Decoded::kNeedMore && frame.size() <= kReplyBufferSize &&
        Transfer(device, false, buffer + qdev_frame::kHeaderSize, frame.payloadSize)) {
      decoded = qdev_frame::DecodeFrame(buffer, frame.size(), &frame);
    }
    if (decoded != qdev_frame::Decoded::kFrame || frame.header.type != qdev_frame::kReply) break;
    CompleteReply(device, frame);
  }
  KIRQL irql;
  KeAcquireSpinLock(&device->pendingLock, &irql);
  device->broken = TRUE;
  KeReleaseSpinLock(&device->pendingLock, irql);
  FailAllPending(device, nullptr, STATUS_DEVICE_NOT_CONNECTED);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

// --- dispatch routines ------------------------------------------------------------------------

// The caller's last handle has gone: its requests that are still pending go with it. Windows
// says so with IRP_MJ_CLEANUP; Wine 8 sends only IRP_MJ_CLOSE, even while requests are pending.
NTSTATUS DispatchCleanupOrClose(PDEVICE_OBJECT deviceObject, PIRP irp) {
  FailAllPending(ExtensionOf(deviceObject), IoGetCurrentIrpStackLocation(irp)->FileObject,
                 STATUS_CANCELLED);
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT deviceObject, PIRP irp) {
  StandInDevice* device = ExtensionOf(deviceObject);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG inputSize = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outputSize = stack->Parameters.DeviceIoControl.OutputBufferLength;

  // The module's codes all carry their data in the output buffer, locked down as an MDL.
  if ((code & 3) != METHOD_OUT_DIRECT && (code & 3) != METHOD_IN_DIRECT)
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  if (inputSize + outputSize > kMaxReplyPayload) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  const UCHAR* input = static_cast<const UCHAR*>(irp->AssociatedIrp.SystemBuffer);
  UCHAR* output = nullptr;
  if (outputSize != 0) {
    if (irp->MdlAddress == nullptr) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    output = static_cast<UCHAR*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
    if (output == nullptr) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  }
  if (inputSize != 0 && input == nullptr) return Complete(irp, STATUS_INVALID_PARAMETER, 0);

  // The frame: header, input buffer, output buffer (the data of a host-to-module request).
  const ULONG frameSize = static_cast<ULONG>(qdev_frame::RequestFrameSize(inputSize, outputSize));
  UCHAR* frame = static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPool, frameSize, kPoolTag));
  if (frame == nullptr) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  const ULONG id = static_cast<ULONG>(InterlockedIncrement(&device->nextId));
  qdev_frame::EncodeRequest(id, code, input, inputSize, output, outputSize, frame);

  irp->Tail.Overlay.DriverContext[0] = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(id));
  irp->Tail.Overlay.DriverContext[1] = output;

  // Queue before sending, so that the reply always finds the request.
  KIRQL irql;
  KeAcquireSpinLock(&device->pendingLock, &irql);
  NTSTATUS refused = device->broken ? STATUS_DEVICE_NOT_CONNECTED : STATUS_SUCCESS;
  if (!device->broken && (IoSetCancelRoutine(irp, CancelPending), irp->Cancel) &&
      IoSetCancelRoutine(irp, nullptr) != nullptr) {
    refused = STATUS_CANCELLED;
  }
  if (refused != STATUS_SUCCESS) {
    KeReleaseSpinLock(&device->pendingLock, irql);
    ExFreePoolWithTag(frame, kPoolTag);
    return Complete(irp, refused, 0);
  }
  IoMarkIrpPending(irp);
  InsertTailList(&device->pending, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&device->pendingLock, irql);

  // From here on the IRP may complete at any time; only its id is used.
  KeWaitForSingleObject(&device->writeLock, Executive, KernelMode, FALSE, nullptr);
  const bool sent = Transfer(device, true, frame, frameSize);
  KeReleaseMutex(&device->writeLock, FALSE);
  ExFreePoolWithTag(frame, kPoolTag);
  if (!sent) {
    PIRP unsent = TakePending(device, true, id, nullptr);
    if (unsent != nullptr) Complete(unsent, STATUS_DEVICE_NOT_CONNECTED, 0);
  }
  return STATUS_PENDING;
}

// --- devices ----------------------------------------------------------------------------------

NTSTATUS OpenPipe(const WCHAR* name, USHORT nameChars, HANDLE* pipe) {
  WCHAR buffer[kNameBufferChars];
  UNICODE_STRING path;
  if (!BuildName(&path, buffer, L"\\Device\\NamedPipe\\", qdev_frame::kPipeNamePrefix, name,
                 nameChars))
    return STATUS_NAME_TOO_LONG;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  IO_STATUS_BLOCK io;
  // Asynchronous: the reader thread's pending read must not hold up the writes.
  return ZwCreateFile(pipe, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, nullptr,
                      FILE_ATTRIBUTE_NORMAL, 0, FILE_OPEN, FILE_NON_DIRECTORY_FILE, nullptr, 0);
}

void DestroyDevice(PDEVICE_OBJECT deviceObject) {
  StandInDevice* device = ExtensionOf(deviceObject);
  if (device->linkName.Buffer != nullptr) IoDeleteSymbolicLink(&device->linkName);
  if (device->readerThread != nullptr) {
    // The host closes its end first, which ends the reader; closing ours is the fallback.
    LARGE_INTEGER timeout;
    timeout.QuadPart = -20000000LL;  // 2 s
    if (ZwWaitForSingleObject(device->readerThread, FALSE, &timeout) != STATUS_SUCCESS) {
      ZwClose(device->pipe);
      device->pipe = nullptr;
      // The reader still runs: leave the device and its memory to it.
      if (ZwWaitForSingleObject(device->readerThread, FALSE, &timeout) != STATUS_SUCCESS) return;
    }
    ZwClose(device->readerThread);
  }
  if (device->pipe != nullptr) ZwClose(device->pipe);
  if (device->readEvent != nullptr) ZwClose(device->readEvent);
  if (device->writeEvent != nullptr) ZwClose(device->writeEvent);
  if (device->replyBuffer != nullptr) ExFreePoolWithTag(device->replyBuffer, kPoolTag);
  IoDeleteDevice(deviceObject);
}

NTSTATUS CreateStandInDevice(PDRIVER_OBJECT driver, const WCHAR* name, USHORT nameChars) {
  WCHAR deviceBuffer[kNameBufferChars];
  UNICODE_STRING deviceName;
  if (!BuildName(&deviceName, deviceBuffer, L"\\Device\\", "", name, nameChars))
    return STATUS_NAME_TOO_LONG;
  PDEVICE_OBJECT deviceObject = nullptr;
  NTSTATUS status = IoCreateDevice(driver, sizeof(StandInDevice), &deviceName, FILE_DEVICE_UNKNOWN,
                                   0, FALSE, &deviceObject);
  if (!NT_SUCCESS(status)) return status;
  StandInDevice* device = ExtensionOf(deviceObject);
  RtlZeroMemory(device, sizeof *device);
  KeInitializeMutex(&device->writeLock, 0);
  KeInitializeSpinLock(&device->pendingLock);
  InitializeListHead(&device->pending);
  deviceObject->Flags |= DO_DIRECT_IO;

  UNICODE_STRING link;
  device->replyBuffer =
      static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPool, kReplyBufferSize, kPoolTag));
  if (device->replyBuffer == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  if (NT_SUCCESS(status)) status = OpenPipe(name, nameChars, &device->pipe);
  const auto newEvent = [](HANDLE* event) {
    return ZwCreateEvent(event, EVENT_ALL_ACCESS, nullptr, SynchronizationEvent, FALSE);
  };
  if (NT_SUCCESS(status)) status = newEvent(&device->readEvent);
  if (NT_SUCCESS(status)) status = newEvent(&device->writeEvent);
  if (NT_SUCCESS(status)) {
    status = PsCreateSystemThread(&device->readerThread, THREAD_ALL_ACCESS, nullptr, nullptr,
                                  nullptr, ReaderThread, device);
  }
  if (NT_SUCCESS(status) &&
      !BuildName(&link, device->linkBuffer, L"\\DosDevices\\", "", name, nameChars)) {
    status = STATUS_NAME_TOO_LONG;
  }
  if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(&link, &deviceName);
  if (NT_SUCCESS(status)) device->linkName = link;
  deviceObject->Flags &= ~DO_DEVICE_INITIALIZING;
  if (!NT_SUCCESS(status)) DestroyDevice(deviceObject);
  return status;
}

void DriverUnload(PDRIVER_OBJECT driver) {
  for (PDEVICE_OBJECT d = driver->DeviceObject, next; d != nullptr; d = next) {
    next = d->NextDevice;
    DestroyDevice(d);
  }
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  driver->MajorFunction[IRP_MJ_CREATE] = [](PDEVICE_OBJECT, PIRP irp) {
    return Complete(irp, STATUS_SUCCESS, 0);
  };
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanupOrClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCleanupOrClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  driver->DriverUnload = DriverUnload;

  // Parameters\Devices (REG_MULTI_SZ) of the service key.
  alignas(8) static UCHAR deviceList[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 4096];
  WCHAR buffer[256];
  UNICODE_STRING keyPath = {0, sizeof buffer, buffer};
  NTSTATUS status = RtlAppendUnicodeStringToString(&keyPath, registryPath);
  if (NT_SUCCESS(status)) status = RtlAppendUnicodeToString(&keyPath, stand_in::kParametersKeyW);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &keyPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             nullptr, nullptr);
  HANDLE key = nullptr;
  if (NT_SUCCESS(status)) status = ZwOpenKey(&key, KEY_READ, &attributes);
  if (!NT_SUCCESS(status)) return status;
  UNICODE_STRING valueName;
  RtlInitUnicodeString(&valueName, stand_in::kDevicesValueW);
  auto* list = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(deviceList);
  ULONG returned = 0;
  status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, list, sizeof deviceList,
                           &returned);
  ZwClose(key);
  if (NT_SUCCESS(status) && list->Type != REG_MULTI_SZ) status = STATUS_OBJECT_TYPE_MISMATCH;
  if (!NT_SUCCESS(status)) return status;

  // One device per non-empty entry of the multi-string.
  const WCHAR* names = reinterpret_cast<const WCHAR*>(list->Data);
  const ULONG chars = list->DataLength / sizeof(WCHAR);
  for (ULONG i = 0, end = 0, created = 0; i < chars && NT_SUCCESS(status); i = end + 1, ++created) {
    for (end = i; end < chars && names[end] != L'\0';) ++end;
    if (end == i) break;
    status = end - i > driver_contract::kLongestDeviceName || created == kMaxDevices
                 ? STATUS_INVALID_PARAMETER
                 : CreateStandInDevice(driver, names + i, static_cast<USHORT>(end - i));
  }
  if (!NT_SUCCESS(status)) DriverUnload(driver);
  return status;
}
