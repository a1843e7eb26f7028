// The serving side of devices on Windows: one named pipe per device name, which the device's
// kernel driver opens, and one thread per device that reads request frames from the pipe, hands
// each to the device's handler and writes the reply frame back. All pipe I/O is overlapped, so
// that Stop and DropConnections can end a wait for the driver's next frame at any time.
#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/device_endpoint.h"
#include "platform/device_frame.h"
#include "platform/frame_buffer.h"
#include "platform/win32.h"

namespace qdev {
namespace {

using qdev_frame::Header;
using qdev_frame::kHeaderSize;

constexpr DWORD kPipeBufferSize = 64 * 1024;
// A reply is a few kilobytes and the driver always reads; a write that takes this long has a
// client that no longer listens, and its connection ends.
constexpr DWORD kReplyWriteTimeoutMs = 10000;

std::string ErrorText(const std::string& what) {
  return what + " (error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

struct EndpointServer::Impl {
  struct Device {
    std::string name;
    DeviceHandler* handler = nullptr;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE io = nullptr;    // signalled when this pipe's overlapped operation completes
    HANDLE drop = nullptr;  // manual reset: DropConnections ends the current connection
    std::thread thread;
  };

  enum class Io { kDone, kBroken, kStopped, kDropped };

  std::string prefix;
  HANDLE stop = nullptr;  // manual reset: set by Stop
  std::mutex mu;          // guards devices, started, stopped
  std::mutex handling;    // handlers run one request at a time across the server
  std::vector<std::unique_ptr<Device>> devices;
  bool started = false;
  bool stopped = false;

  // One overlapped connect (data null), read or write of exactly `size` bytes, or with `some`
  // a read of whatever arrives first, at most `size` bytes, whose count goes to *some. A connect
  // or a read also ends at Stop or DropConnections; a write ends only on its own or when
  // dropped, so that a reply sent as the server stops still leaves whole.
  Io Transfer(Device* d, bool write, uint8_t* data, DWORD size, DWORD* some = nullptr) {
    DWORD done = 0;
    do {
      OVERLAPPED overlapped{};
      overlapped.hEvent = d->io;
      BOOL ok;
      if (data == nullptr) {
        ok = ConnectNamedPipe(d->pipe, &overlapped);
        if (!ok && GetLastError() == ERROR_PIPE_CONNECTED) return Io::kDone;
      } else if (write) {
        ok = WriteFile(d->pipe, data + done, size - done, nullptr, &overlapped);
      } else {
        ok = ReadFile(d->pipe, data + done, size - done, nullptr, &overlapped);
      }
      if (!ok && GetLastError() != ERROR_IO_PENDING) return Io::kBroken;
      const HANDLE waits[] = {d->io, d->drop, stop};
      const DWORD count = write ? 2 : 3;
      const DWORD waited =
          WaitForMultipleObjects(count, waits, FALSE, write ? kReplyWriteTimeoutMs : INFINITE);
      if (waited != WAIT_OBJECT_0) {
        CancelIo(d->pipe);
        DWORD ignored = 0;
        GetOverlappedResult(d->pipe, &overlapped, &ignored, TRUE);
        return waited == WAIT_OBJECT_0 + 2 ? Io::kStopped : Io::kDropped;
      }
      DWORD moved = 0;
      if (!GetOverlappedResult(d->pipe, &overlapped, &moved, TRUE)) return Io::kBroken;
      if (data == nullptr) return Io::kDone;
      if (moved == 0) return Io::kBroken;
      done += moved;
      if (some != nullptr) {
        *some = done;
        return Io::kDone;
      }
    } while (done < size);
    return Io::kDone;
  }

  // Serves one connection until it breaks, is dropped or the server stops. The frames are read
  // as they arrive, several at a time, and handled in one pass over what has arrived. A frame
  // other than a request or a cancel ends the connection: the peer does not speak this protocol.
  Io ServeConnection(Device* d) {
    qdev_frame::ReceiveBuffer in;
    DeviceRequest request;       // its buffers are reused from one request to the next
    std::vector<uint8_t> frame;  // likewise the reply's frame
    for (;;) {
      qdev_frame::Frame f;
      qdev_frame::Decoded decoded;
      while ((decoded = in.Next(&f)) == qdev_frame::Decoded::kFrame) {
        const Header& h = f.header;
        if (h.type != qdev_frame::kRequest && h.type != qdev_frame::kCancel) return Io::kBroken;
        // Handlers answer at once or never, so a cancel has nothing to withdraw.
        if (h.type == qdev_frame::kCancel) continue;
        request.id = h.id;
        request.ioControlCode = h.request.ioControlCode;
        request.input.assign(f.input(), f.input() + h.request.inputSize);
        request.output.assign(f.output(), f.output() + h.request.outputSize);
        DeviceReply reply;
        bool complete;
        {
          std::lock_guard<std::mutex> lock(handling);
          complete = d->handler->Handle(request, &reply);
        }
        if (!complete) continue;
        const uint32_t n =
            static_cast<uint32_t>(std::min(reply.data.size(), request.output.size()));
        frame.resize(kHeaderSize + n);
        qdev_frame::EncodeReply(request.id, reply.error, reply.information, reply.data.data(), n,
                                frame.data());
        const Io io = Transfer(d, true, frame.data(), static_cast<DWORD>(frame.size()));
        if (io != Io::kDone) return io;
      }
      if (decoded == qdev_frame::Decoded::kMalformed) return Io::kBroken;
      DWORD got = 0;
      const Io io = Transfer(d, false, in.Space(kPipeBufferSize), kPipeBufferSize, &got);
      if (io != Io::kDone) return io;
      in.Commit(got);
    }
  }

  // A device's thread: one connection after the other until Stop. A connection that ends
  // otherwise is disconnected (what it had not read is gone, as with an unplugged module) and
  // the pipe waits for the next; at Stop the pipe is only closed, which keeps the replies already
  // written readable for the client.
  void Serve(Device* d) {
    for (;;) {
      ResetEvent(d->drop);
      Io io = Transfer(d, false, nullptr, 0);
      if (io == Io::kDone) io = ServeConnection(d);
      if (io == Io::kStopped) return;
      if (!DisconnectNamedPipe(d->pipe)) return;  // the pipe is unusable: stop serving it
    }
  }

  bool StartThreadLocked(Device* d, std::string* error) {
    try {
      d->thread = std::thread([this, d] { Serve(d); });
    } catch (const std::exception& e) {
      *error = "cannot start the thread of device \"" + d->name + "\": " + e.what();
      return false;
    }
    return true;
  }
};

EndpointServer::EndpointServer(std::string deviceDir) : impl_(new Impl) {
  impl_->prefix = deviceDir.empty() ? std::string("\\\\.\\pipe\\") + qdev_frame::kPipeNamePrefix
                                    : std::move(deviceDir);
  impl_->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

EndpointServer::~EndpointServer() {
  Stop();
  if (impl_->stop != nullptr) CloseHandle(impl_->stop);
}

const std::string& EndpointServer::DeviceDir() const {
  return impl_->prefix;
}

bool EndpointServer::AddDevice(const std::string& name, DeviceHandler* handler,
                               std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (handler == nullptr) {
    *error = "device \"" + name + "\" has no handler";
    return false;
  }
  if (name.empty() || name.find_first_of("\\/") != std::string::npos) {
    *error = "device name \"" + name + "\" cannot name a pipe";
    return false;
  }
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->stopped || impl_->stop == nullptr) {
    *error = "the endpoint server has stopped";
    return false;
  }
  auto d = std::make_unique<Impl::Device>();
  d->name = name;
  d->handler = handler;
  d->io = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  d->drop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (d->io == nullptr || d->drop == nullptr) {
    *error = ErrorText("cannot create the events of device \"" + name + "\"");
    if (d->io != nullptr) CloseHandle(d->io);
    if (d->drop != nullptr) CloseHandle(d->drop);
    return false;
  }
  // The first instance of its name, and the only one: pipe names ignore case, so a name that
  // any server (this one included) serves in any case is refused here.
  const std::string path = impl_->prefix + name;
  d->pipe = CreateNamedPipeA(
      path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kPipeBufferSize, kPipeBufferSize, 0,
      nullptr);
  if (d->pipe == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    *error = code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY
                 ? "device \"" + name + "\" is already served at \"" + path + "\""
                 : ErrorText("cannot create the pipe \"" + path + "\"");
    CloseHandle(d->io);
    CloseHandle(d->drop);
    return false;
  }
  if (impl_->started && !impl_->StartThreadLocked(d.get(), error)) {
    CloseHandle(d->pipe);
    CloseHandle(d->io);
    CloseHandle(d->drop);
    return false;
  }
  impl_->devices.push_back(std::move(d));
  return true;
}

bool EndpointServer::Start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->started || impl_->stopped) {
    *error = "the endpoint server has already been started";
    return false;
  }
  if (impl_->stop == nullptr) {
    *error = "the endpoint server has no stop event";
    return false;
  }
  for (auto& d : impl_->devices) {
    if (!impl_->StartThreadLocked(d.get(), error)) {
      SetEvent(impl_->stop);  // the threads already started end; Stop joins them
      return false;
    }
  }
  impl_->started = true;
  return true;
}

void EndpointServer::Stop() {
  std::vector<std::unique_ptr<Impl::Device>> devices;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->stopped) return;
    if (impl_->stop != nullptr) SetEvent(impl_->stop);
    // Stop from a handler cannot wait for its own thread; a later Stop finishes the work.
    for (const auto& d : impl_->devices) {
      if (d->thread.get_id() == std::this_thread::get_id()) return;
    }
    impl_->stopped = true;
    devices = std::move(impl_->devices);
  }
  for (auto& d : devices) {
    if (d->thread.joinable()) d->thread.join();
    CloseHandle(d->pipe);
    CloseHandle(d->io);
    CloseHandle(d->drop);
  }
}

void EndpointServer::DropConnections(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  for (auto& d : impl_->devices) {
    if (d->name == name) SetEvent(d->drop);
  }
}

}  // namespace qdev
