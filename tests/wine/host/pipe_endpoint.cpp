// Serves one simulated device on a named pipe, frame by frame, with overlapped I/O so that Stop
// can end a wait for the driver's next request at any time.
#include "tests/wine/host/pipe_endpoint.h"

#include <utility>
#include <vector>

#include "platform/device_frame.h"
#include "tests/wine/stand_in_names.h"

namespace stand_in {

namespace {
constexpr DWORD kPipeBufferSize = 64 * 1024;
}  // namespace

PipeEndpoint::PipeEndpoint(sim::Rack* rack, std::string device, HANDLE powerGone)
    : rack_(rack), device_(std::move(device)), powerGone_(powerGone) {}

PipeEndpoint::~PipeEndpoint() {
  Stop();
  if (connectedEvent_ != nullptr) CloseHandle(connectedEvent_);
  if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
  if (ioEvent_ != nullptr) CloseHandle(ioEvent_);
}

bool PipeEndpoint::Create(std::string* error) {
  ioEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  connectedEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (ioEvent_ == nullptr || stopEvent_ == nullptr || connectedEvent_ == nullptr) {
    *error = "cannot create the events of " + device_;
    return false;
  }
  const std::string name = std::string(kPipePrefix) + device_;
  pipe_ = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kPipeBufferSize,
                           kPipeBufferSize, 0, nullptr);
  if (pipe_ == INVALID_HANDLE_VALUE) {
    *error = "cannot create " + name + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  return true;
}

void PipeEndpoint::Start() {
  thread_ = std::thread([this] { Serve(); });
}

bool PipeEndpoint::WaitConnected(DWORD timeoutMs) {
  return WaitForSingleObject(connectedEvent_, timeoutMs) == WAIT_OBJECT_0;
}

void PipeEndpoint::Stop() {
  if (stopEvent_ != nullptr) SetEvent(stopEvent_);
  if (thread_.joinable()) thread_.join();
  if (pipe_ != INVALID_HANDLE_VALUE) {
    DisconnectNamedPipe(pipe_);
    CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
  }
}

// One overlapped read or write of exactly `size` bytes (a connect when data is null), ended early
// by Stop or a power loss.
PipeEndpoint::Io PipeEndpoint::Transfer(bool write, uint8_t* data, DWORD size) {
  DWORD done = 0;
  do {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_;
    ResetEvent(ioEvent_);
    BOOL ok;
    if (data == nullptr) {
      ok = ConnectNamedPipe(pipe_, &overlapped);
      if (!ok && GetLastError() == ERROR_PIPE_CONNECTED) return Io::kDone;
    } else if (write) {
      ok = WriteFile(pipe_, data + done, size - done, nullptr, &overlapped);
    } else {
      ok = ReadFile(pipe_, data + done, size - done, nullptr, &overlapped);
    }
    if (!ok && GetLastError() != ERROR_IO_PENDING) return Io::kBroken;
    const HANDLE waits[] = {ioEvent_, stopEvent_, powerGone_};
    if (WaitForMultipleObjects(3, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIo(pipe_);
      DWORD ignored = 0;
      GetOverlappedResult(pipe_, &overlapped, &ignored, TRUE);
      return Io::kStopped;
    }
    DWORD moved = 0;
    if (!GetOverlappedResult(pipe_, &overlapped, &moved, TRUE)) return Io::kBroken;
    if (data == nullptr) return Io::kDone;
    if (moved == 0) return Io::kBroken;
    done += moved;
  } while (done < size);
  return Io::kDone;
}

void PipeEndpoint::Serve() {
  if (Transfer(false, nullptr, 0) != Io::kDone) return;
  SetEvent(connectedEvent_);

  for (;;) {
    uint8_t raw[qdev_frame::kHeaderSize];
    if (Transfer(false, raw, sizeof raw) != Io::kDone) return;
    const qdev_frame::Header header = qdev_frame::DecodeHeader(raw);
    uint32_t payloadSize = 0;
    if (!qdev_frame::PayloadSize(header, &payloadSize) ||
        (header.type != qdev_frame::kRequest && header.type != qdev_frame::kCancel)) {
      protocolError_ = true;
      return;
    }
    std::vector<uint8_t> payload(payloadSize);
    if (payloadSize != 0 && Transfer(false, payload.data(), payloadSize) != Io::kDone) return;
    if (header.type == qdev_frame::kCancel) continue;

    const auto split = payload.begin() + header.request.inputSize;
    const std::vector<uint8_t> input(payload.begin(), split);
    const std::vector<uint8_t> output(split, payload.end());
    const sim::RackReply reply = rack_->Serve(device_, header.request.ioControlCode, input, output);
    if (!reply.answered) continue;

    std::vector<uint8_t> frame(qdev_frame::kHeaderSize + reply.data.size());
    qdev_frame::EncodeHeader(qdev_frame::ReplyHeader(header.id, reply.error, reply.information,
                                                     static_cast<uint32_t>(reply.data.size())),
                             frame.data());
    std::copy(reply.data.begin(), reply.data.end(), frame.begin() + qdev_frame::kHeaderSize);
    if (Transfer(true, frame.data(), static_cast<DWORD>(frame.size())) != Io::kDone) return;
    if (reply.powerLost) {
      SetEvent(powerGone_);
      return;
    }
  }
}

}  // namespace stand_in
