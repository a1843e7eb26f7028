// Device I/O: CreateFileA on a device name connects to its endpoint; DeviceIoControl sends
// requests, whose replies the threads that wait for them read; CancelIo and GetOverlappedResult
// keep their Windows meaning. The framing is that of platform/device_frame.h; completion records
// hold NTSTATUS values, as on Windows.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_frame.h"
#include "platform/frame_buffer.h"
#include "platform/posix/device_names.h"
#include "platform/posix/event.h"
#include "platform/posix/handles.h"
#include "platform/posix/ntstatus.h"
#include "platform/posix/request_ids.h"
#include "platform/posix/socket_util.h"
#include "platform/win32.h"

namespace qdev_posix {
namespace {

constexpr DWORD kErrorTooManyOpenFiles = 4;  // Windows' ERROR_TOO_MANY_OPEN_FILES
// An endpoint that accepts a connection but has not answered its open within this time (one
// deadline for the whole reply, shortened by the time scale like every timed wait) is taken for
// a hung one.
constexpr DWORD kOpenReplyMs = 10000;

// The completion record is shared with the caller, who may read it on another thread (through
// GetOverlappedResult) while the reader thread completes it: the status is written last and read
// first, so a status that is no longer pending comes with its byte count.
NtStatus LoadStatus(const OVERLAPPED* record) {
  return static_cast<NtStatus>(__atomic_load_n(&record->Internal, __ATOMIC_ACQUIRE));
}

void StoreCompletion(OVERLAPPED* record, NtStatus status, DWORD information) {
  __atomic_store_n(&record->InternalHigh, ULONG_PTR{information}, __ATOMIC_RELAXED);
  __atomic_store_n(&record->Internal, ULONG_PTR{status}, __ATOMIC_RELEASE);
}

// The end of GetOverlappedResult and of a blocking DeviceIoControl, once the request is no longer
// pending (or a wait for it has ended): the byte count, and the status as Windows judges it.
BOOL ReportCompletion(const OVERLAPPED* record, LPDWORD bytes) {
  const NtStatus status = LoadStatus(record);
  if (bytes != nullptr) {
    *bytes = static_cast<DWORD>(__atomic_load_n(&record->InternalHigh, __ATOMIC_RELAXED));
  }
  if (StatusSucceeded(status)) return TRUE;
  SetLastError(ErrorFromStatus(status));
  return FALSE;
}

// One open device: a connection to the endpoint and the requests pending on it.
//
// No thread of the platform reads the replies: the threads that wait for a request (a wait on
// its event, GetOverlappedResult, a blocking DeviceIoControl) read them themselves, one at a time
// (the reader), and complete whichever request each reply answers; a thread that waits while
// another reads waits for it. So a reply wakes the thread that waits for it, and nothing else.
class Device : public Object, public EventSource, public std::enable_shared_from_this<Device> {
 public:
  Device(int fd, int wake, bool overlapped) : fd_(fd), wake_(wake), overlapped_(overlapped) {}
  ~Device() override {
    Close();
    ::close(fd_);
    ::close(wake_);
  }

  void Close() override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (closed_) return;
      closed_ = true;
      // Closing a handle cancels its requests, as on Windows.
      for (auto& entry : pending_) Complete(&entry.second, kStatusCancelled, 0);
      ForgetAllLocked();
    }
    // The endpoint sees the end of the stream at once, and so does a thread reading it.
    ::shutdown(fd_, SHUT_RDWR);
  }

  BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
               LPDWORD bytesReturned, LPOVERLAPPED overlapped);
  BOOL Cancel();
  // Waits until the request of `record` issued on this handle, if any, is no longer pending;
  // with `wait` false, only reads the replies that have arrived.
  void AwaitCompletion(const OVERLAPPED* record, bool wait);

  void Drive(Event* event, const Deadline& deadline) override;
  void Wake() override {
    const uint64_t one = 1;
    ssize_t rc = ::write(wake_, &one, sizeof one);
    (void)rc;  // a full counter wakes the reader anyway
    std::lock_guard<std::mutex> lock(mu_);
    if (waiting_ != 0) done_.notify_all();
  }

 private:
  struct Pending {
    LPOVERLAPPED record;  // the caller's completion record (or one on our stack)
    uint8_t* output;      // the caller's output buffer
    uint32_t outputSize;
    std::shared_ptr<Event> event;  // held so that closing the event handle early is harmless
    std::thread::id issuer;        // CancelIo cancels only the calling thread's requests
  };

  enum class Read { kProgress, kTimedOut, kBroken };

  // The completion record is written, then the event set: a waiter that sees the event sees the
  // record complete. The event is set for the thread that drives this device, which knows.
  static void Complete(Pending* p, NtStatus status, DWORD information) {
    StoreCompletion(p->record, status, information);
    if (p->event) p->event->SetCompleted();
  }

  bool IsPendingLocked(const OVERLAPPED* record) const {
    return std::any_of(pending_.begin(), pending_.end(),
                       [record](const auto& entry) { return entry.second.record == record; });
  }

  // A request leaves pending_; its event no longer needs this device driven, unless another
  // pending request sets it too.
  void ForgetLocked(std::map<uint32_t, Pending>::iterator it) {
    std::shared_ptr<Event> event = std::move(it->second.event);
    pending_.erase(it);
    if (!event) return;
    for (const auto& entry : pending_) {
      if (entry.second.event == event) return;
    }
    event->RemoveSource(this);
  }
  void ForgetAllLocked() {
    while (!pending_.empty()) ForgetLocked(pending_.begin());
    if (waiting_ != 0) done_.notify_all();
  }

  // Reads the replies, as the reader, until done() holds (checked under the lock) or the deadline
  // passes; waits while another thread reads.
  template <class Done>
  void DriveUntil(const Done& done, const Deadline& deadline);
  // One turn of the reader: waits for bytes until the deadline, reads what has arrived (usually
  // a whole reply in one call) and completes the requests of the whole replies in it.
  Read ReadReplies(const Deadline& deadline);
  void CompleteReplyLocked(const qdev_frame::Frame& reply);

  const int fd_;
  const int wake_;         // an eventfd that wakes the reader's wait for bytes (Wake)
  const bool overlapped_;  // opened with FILE_FLAG_OVERLAPPED
  std::mutex mu_;          // guards everything below, and every completion record in pending_
  std::condition_variable done_;  // a request completed, or the reader let go
  std::map<uint32_t, Pending> pending_;
  bool closed_ = false;
  bool gone_ = false;             // the endpoint has gone; the handle stays until CloseHandle
  bool reading_ = false;          // a thread is the reader
  int waiting_ = 0;               // threads that wait on done_
  qdev_frame::ReceiveBuffer in_;  // the reader's alone
  std::mutex sendMu_;             // one frame at a time on the socket; guards the two below
  RequestIds ids_;
  std::vector<uint8_t> frame_;  // the frame being sent, its storage kept for the next
};

// Completes the pending request of a reply; a reply for an id that is not pending (cancelled,
// or never issued) is dropped.
void Device::CompleteReplyLocked(const qdev_frame::Frame& reply) {
  auto it = pending_.find(reply.header.id);
  if (it == pending_.end()) return;
  Pending& p = it->second;
  size_t n = std::min<size_t>(reply.payloadSize, p.outputSize);
  if (n > 0) std::memcpy(p.output, reply.payload, n);
  Complete(&p, StatusFromError(reply.header.reply.error), reply.header.reply.information);
  ForgetLocked(it);
}

Device::Read Device::ReadReplies(const Deadline& deadline) {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
  int timeoutMs = -1;
  if (!deadline.infinite) {
    // Whole milliseconds, rounded up: the wait never ends before its deadline.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline.at - std::chrono::steady_clock::now());
    timeoutMs = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
  }
  const int ready = ::poll(fds, 2, timeoutMs);
  if (ready < 0) return errno == EINTR ? Read::kProgress : Read::kBroken;
  if (ready == 0) return Read::kTimedOut;
  if (fds[1].revents != 0) {
    uint64_t count;
    ssize_t rc = ::read(wake_, &count, sizeof count);
    (void)rc;
  }
  if (fds[0].revents == 0) return Read::kProgress;
  constexpr size_t kChunk = 64 * 1024;
  const ssize_t got = ::recv(fd_, in_.Space(kChunk), kChunk, MSG_DONTWAIT);
  if (got < 0) {
    return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? Read::kProgress
                                                                     : Read::kBroken;
  }
  if (got == 0) return Read::kBroken;
  in_.Commit(static_cast<size_t>(got));
  qdev_frame::Frame frame;
  qdev_frame::Decoded decoded;
  std::lock_guard<std::mutex> lock(mu_);
  while ((decoded = in_.Next(&frame)) == qdev_frame::Decoded::kFrame &&
         frame.header.type == qdev_frame::kReply) {
    CompleteReplyLocked(frame);
  }
  return decoded == qdev_frame::Decoded::kNeedMore ? Read::kProgress : Read::kBroken;
}

template <class Done>
void Device::DriveUntil(const Done& done, const Deadline& deadline) {
  std::unique_lock<std::mutex> lock(mu_);
  bool looked = false;  // a passed deadline still reads what has arrived, once
  while (!done()) {
    if (closed_ || gone_) return;  // every request has completed
    if (deadline.Passed() && looked) return;
    if (reading_) {
      // Another thread reads; it wakes us when it completes a request or lets go.
      ++waiting_;
      if (deadline.infinite) {
        done_.wait(lock);
      } else {
        done_.wait_until(lock, deadline.at);
      }
      --waiting_;
      looked = true;
      continue;
    }
    reading_ = true;
    lock.unlock();
    Read read;
    try {
      read = ReadReplies(deadline);
    } catch (...) {
      read = Read::kBroken;  // out of memory for a reply: the stream cannot be read on
    }
    lock.lock();
    reading_ = false;
    looked = true;
    if (read == Read::kBroken && !closed_) {
      gone_ = true;
      // What a request pending on a module that is unplugged gets on Windows.
      for (auto& entry : pending_) Complete(&entry.second, kStatusDeviceNotConnected, 0);
      ForgetAllLocked();
    } else if (waiting_ != 0) {
      done_.notify_all();  // a request may have completed, and the reader's place is free
    }
  }
}

void Device::Drive(Event* event, const Deadline& deadline) {
  DriveUntil([event] { return event->IsSignalled(); }, deadline);
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_ || gone_) event->RemoveSource(this);  // nothing more comes from here
}

void Device::AwaitCompletion(const OVERLAPPED* record, bool wait) {
  DriveUntil([this, record] { return !IsPendingLocked(record); },
             wait ? Deadline() : Deadline::Now());
}

BOOL Device::Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                     LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
  if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0) ||
      static_cast<uint64_t>(inSize) + outSize > qdev_frame::kMaxPayload) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<Event> event;
  if (overlapped != nullptr && overlapped->hEvent != nullptr) {
    event = LookupHandleAs<Event>(overlapped->hEvent);
    if (!event) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  const bool async = overlapped_ && overlapped != nullptr;
  OVERLAPPED local{};
  LPOVERLAPPED record = overlapped != nullptr ? overlapped : &local;

  std::unique_lock<std::mutex> sending(sendMu_);
  // The frame is built before the request is pending: once it is, the reply may write into the
  // output buffer at any moment, so the send must not read from it.
  const uint32_t id = ids_.Next();
  frame_.resize(qdev_frame::RequestFrameSize(inSize, outSize));
  qdev_frame::EncodeRequest(id, code, static_cast<const uint8_t*>(in), inSize,
                            static_cast<const uint8_t*>(out), outSize, frame_.data());
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (closed_) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (gone_) {
      SetLastError(ERROR_DEVICE_NOT_CONNECTED);
      return FALSE;
    }
    pending_.emplace(id, Pending{record, static_cast<uint8_t*>(out), outSize, event,
                                 std::this_thread::get_id()});
    StoreCompletion(record, kStatusPending, 0);
    if (event) {
      // Windows resets the event when the request starts; a wait for it reads this device.
      event->Reset();
      event->AddSource(shared_from_this());
    }
  }
  const bool sent = SendAll(fd_, frame_.data(), frame_.size());
  sending.unlock();
  if (!sent) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = pending_.find(id);
    if (it != pending_.end()) ForgetLocked(it);
    // A frame may have been cut in half: nothing after it could be read right.
    ::shutdown(fd_, SHUT_RDWR);
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }

  if (async) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  DriveUntil([this, id] { return pending_.count(id) == 0; }, Deadline());
  return ReportCompletion(record, bytesReturned);
}

BOOL Device::Cancel() {
  std::vector<uint32_t> cancelled;
  {
    std::lock_guard<std::mutex> lock(mu_);
    cancelled.reserve(pending_.size());
    const std::thread::id self = std::this_thread::get_id();
    for (auto it = pending_.begin(); it != pending_.end();) {
      auto next = std::next(it);
      if (it->second.issuer == self) {
        Complete(&it->second, kStatusCancelled, 0);
        cancelled.push_back(it->first);
        ForgetLocked(it);
      }
      it = next;
    }
  }
  if (cancelled.empty()) return TRUE;
  // Another thread may wait for one of them while it reads.
  Wake();
  // From here on nothing touches the cancelled requests' records or buffers; the endpoint is
  // told so that it can forget them, and a late reply finds no pending id and is dropped.
  std::lock_guard<std::mutex> lock(sendMu_);
  for (uint32_t id : cancelled) {
    uint8_t head[qdev_frame::kHeaderSize];
    qdev_frame::EncodeHeader(qdev_frame::CancelHeader(id), head);
    if (!SendAll(fd_, head, sizeof head)) break;
  }
  return TRUE;
}

// The Windows error for a failed connect to an endpoint socket.
DWORD ConnectError(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      // No socket, a stale socket that nobody serves, or something that is not a socket.
      return ERROR_FILE_NOT_FOUND;
  }
}

// Connects to the endpoint and opens it; the connected socket, or -1 with *error set.
int OpenEndpoint(const std::string& folder, const std::string& device, DWORD access,
                 DWORD shareMode, DWORD* error) {
  std::string path;
  if (!SocketPath(folder, device, &path)) {
    *error = ERROR_FILE_NOT_FOUND;
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = ConnectError(errno);
    return -1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    *error = ConnectError(errno);
    ::close(fd);
    return -1;
  }

  const auto deadline = std::chrono::steady_clock::now() + ScaledWait(kOpenReplyMs);
  uint8_t head[qdev_frame::kHeaderSize];
  qdev_frame::EncodeHeader(qdev_frame::OpenHeader(access, shareMode), head);
  bool timedOut = false;
  if (!SendAll(fd, head, sizeof head) ||
      !RecvExactlyBefore(fd, head, sizeof head, deadline, &timedOut)) {
    *error = timedOut ? ERROR_SEM_TIMEOUT : ERROR_FILE_NOT_FOUND;
    ::close(fd);
    return -1;
  }
  qdev_frame::Header h = qdev_frame::DecodeHeader(head);
  if (h.magic != qdev_frame::kMagic || h.type != qdev_frame::kOpenReply) {
    *error = ERROR_GEN_FAILURE;
    ::close(fd);
    return -1;
  }
  if (h.reply.error != ERROR_SUCCESS) {
    *error = h.reply.error;
    ::close(fd);
    return -1;
  }
  return fd;
}

bool HasSeparator(const char* s) {
  return std::strpbrk(s, "\\/") != nullptr;
}

}  // namespace
}  // namespace qdev_posix

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                          HANDLE /*hTemplateFile*/) {
  using namespace qdev_posix;
  if (lpFileName == nullptr || dwCreationDisposition < 1 || dwCreationDisposition > 5) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  static const char kDevicePrefix[] = "\\\\.\\";
  const size_t prefixLength = sizeof kDevicePrefix - 1;
  if (std::strncmp(lpFileName, kDevicePrefix, prefixLength) != 0) {
    // Only devices exist here: a plain file name is not found, a path's folder neither.
    SetLastError(*lpFileName == '\0' || HasSeparator(lpFileName) ? ERROR_PATH_NOT_FOUND
                                                                 : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const char* device = lpFileName + prefixLength;
  if (*device == '\0' || std::strcmp(device, ".") == 0 || std::strcmp(device, "..") == 0) {
    // Windows resolves these to the device namespace itself, which is no name that opens.
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  if (HasSeparator(device)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  try {
    const std::string folder = DeviceFolder();
    DWORD error = ERROR_SUCCESS;
    int fd = OpenEndpoint(folder, device, dwDesiredAccess, dwShareMode, &error);
    if (fd < 0 && error == ERROR_FILE_NOT_FOUND) {
      // Device names do not depend on case on Windows: \\.\qdev5 opens QDev5.
      for (const std::string& name : NamesIgnoringCase(folder, device)) {
        fd = OpenEndpoint(folder, name, dwDesiredAccess, dwShareMode, &error);
        if (fd >= 0 || error != ERROR_FILE_NOT_FOUND) break;
      }
    }
    if (fd < 0) {
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
      ::close(fd);
      SetLastError(ConnectError(errno));
      return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<Device> object;
    try {
      object =
          std::make_shared<Device>(fd, wake, (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0);
    } catch (...) {
      ::close(fd);
      ::close(wake);
      throw;
    }
    HANDLE handle = RegisterHandle(object);
    if (handle == nullptr) {
      object->Close();
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return INVALID_HANDLE_VALUE;
    }
    return handle;
  } catch (...) {
    // Out of memory.
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
  auto device = qdev_posix::LookupHandleAs<qdev_posix::Device>(hDevice);
  if (!device) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  try {
    return device->Control(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                           lpBytesReturned, lpOverlapped);
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

// As on Windows, the result comes from the record alone; the handle matters only for a wait on a
// request whose record has no event, which waits on the handle.
BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                                LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  using namespace qdev_posix;
  if (lpOverlapped == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (LoadStatus(lpOverlapped) == kStatusPending) {
    auto device = LookupHandleAs<Device>(hFile);
    if (!bWait) {
      // Its reply may have arrived without anyone reading it yet.
      if (device) device->AwaitCompletion(lpOverlapped, false);
      if (LoadStatus(lpOverlapped) == kStatusPending) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
      }
    } else if (lpOverlapped->hEvent != nullptr) {
      if (WaitForSingleObject(lpOverlapped->hEvent, INFINITE) == WAIT_FAILED) return FALSE;
    } else if (device) {
      device->AwaitCompletion(lpOverlapped, true);
    } else if (WaitForSingleObject(hFile, INFINITE) == WAIT_FAILED) {
      return FALSE;
    }
    // Should something else have signalled the event, the request may still be pending: Windows
    // then reports success, and so does this.
  }
  return ReportCompletion(lpOverlapped, lpNumberOfBytesTransferred);
}

BOOL WINAPI CancelIo(HANDLE hFile) {
  // The current process's pseudo-handle has no requests to cancel.
  if (qdev_posix::IsCurrentProcess(hFile)) return TRUE;
  auto device = qdev_posix::LookupHandleAs<qdev_posix::Device>(hFile);
  if (!device) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  try {
    return device->Cancel();
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}
