// The serving side of device endpoints: one listening unix socket per device name in the device
// folder, and a poll loop on a thread of its own that accepts connections, enforces the share
// mode of opens, hands requests to the device's handler and sends the replies back. At each
// wake-up every connection that has something to read gets one read, and its whole frames are
// handled before the next connection's, so that none can hold the others up.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/device_endpoint.h"
#include "platform/device_frame.h"
#include "platform/frame_buffer.h"
#include "platform/posix/device_names.h"
#include "platform/posix/socket_util.h"
#include "platform/win32.h"

namespace qdev {
namespace {

using qdev_frame::Header;
using qdev_frame::kHeaderSize;

std::string ErrnoText(int error) {
  return std::strerror(error);
}

// Creates a folder and its missing parents.
bool MakeFolders(const std::string& path, std::string* error) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = "cannot create device folder \"" + path + "\": " + ErrnoText(errno);
      return false;
    }
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "device folder \"" + path + "\" is not a folder";
    return false;
  }
  return true;
}

sockaddr_un SocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

// Whether a server is listening on the socket at path.
bool SomeoneListens(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address = SocketAddress(path);
  bool live = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return live;
}

// Windows' share check: every open's access must be allowed by the share modes of all others.
// An open that asks neither to read nor to write takes no part in it.
bool SharingConflicts(DWORD accessA, DWORD shareA, DWORD accessB, DWORD shareB) {
  const DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
  if ((accessA & readWrite) == 0 || (accessB & readWrite) == 0) return false;
  auto allowed = [](DWORD access, DWORD share) {
    if ((access & GENERIC_READ) != 0 && (share & FILE_SHARE_READ) == 0) return false;
    if ((access & GENERIC_WRITE) != 0 && (share & FILE_SHARE_WRITE) == 0) return false;
    return true;
  };
  return !allowed(accessA, shareB) || !allowed(accessB, shareA);
}

}  // namespace

struct EndpointServer::Impl {
  struct Device {
    DeviceHandler* handler = nullptr;
    std::string path;
    int listenFd = -1;
    dev_t dev = 0;  // identity of the socket file we bound, so Stop removes only our own
    ino_t ino = 0;
    bool heldOpen = false;  // another program holds it for reading and writing, sharing nothing
  };

  struct Connection {
    uint64_t id = 0;
    int fd = -1;
    std::string device;
    DeviceHandler* handler = nullptr;
    bool opened = false;  // a kOpen was granted
    DWORD access = 0;
    DWORD shareMode = 0;
    bool dead = false;             // end of stream, protocol error or dropped: close it
    bool closeAfterFlush = false;  // an open was refused: send the refusal, then close
    bool queued = false;   // in `received`: bytes have arrived since its frames were handled
    size_t pollIndex = 0;  // its entry in the poll set
    qdev_frame::ReceiveBuffer in;  // received bytes, consumed frame by frame
    std::vector<uint8_t> out;      // frames not yet written
    DeviceRequest request;         // the request being handled; its buffers are reused
  };

  // What an entry of the poll set stands for.
  struct Polled {
    int listenerOf = -1;  // >= 0: index into `listeners`
    Connection* connection = nullptr;
  };

  std::string dir;
  std::mutex
      mu;  // guards everything below but the loop's own state; never held while a handler runs
  std::map<std::string, Device> devices;
  std::map<uint64_t, Connection> connections;  // nodes stay where they are: Connection* is stable
  uint64_t nextConnection = 1;
  int wake[2] = {-1, -1};
  std::thread thread;
  bool started = false;
  bool stopping = false;
  bool stopped = false;
  bool setChanged = true;          // a device or connection came or went: rebuild the poll set
  bool anyDead = false;            // a connection is to be closed
  std::vector<uint64_t> received;  // connections with bytes to handle, each once

  // The loop thread's own: the poll set, kept from one wake-up to the next, and what each entry is.
  std::vector<pollfd> pollSet;
  std::vector<Polled> polled;
  std::vector<std::string> listeners;

  void Wake() {
    if (wake[1] < 0) return;
    uint8_t byte = 0;
    ssize_t rc = ::write(wake[1], &byte, 1);
    (void)rc;  // a full pipe already wakes the loop
  }

  static short EventsOf(const Connection& c) {
    short events = c.closeAfterFlush ? 0 : POLLIN;
    if (!c.out.empty()) events |= POLLOUT;
    return events;
  }

  void MarkDeadLocked(Connection* c) {
    c->dead = true;
    anyDead = true;
  }

  // Writes what the connection has queued, as far as the socket takes it now.
  void FlushLocked(Connection* c) {
    size_t done = 0;
    while (done < c->out.size()) {
      ssize_t n =
          ::send(c->fd, c->out.data() + done, c->out.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) MarkDeadLocked(c);
        break;
      }
      done += static_cast<size_t>(n);
    }
    if (done == c->out.size()) {
      c->out.clear();  // keeps its capacity for the next reply
    } else {
      c->out.erase(c->out.begin(), c->out.begin() + static_cast<ptrdiff_t>(done));
    }
    if (c->closeAfterFlush && c->out.empty()) MarkDeadLocked(c);
    if (c->pollIndex < pollSet.size() && polled[c->pollIndex].connection == c) {
      pollSet[c->pollIndex].events = EventsOf(*c);
    }
  }

  void QueueOpenReplyLocked(Connection* c, DWORD error) {
    uint8_t head[kHeaderSize];
    qdev_frame::EncodeHeader(qdev_frame::OpenReplyHeader(error), head);
    c->out.insert(c->out.end(), head, head + kHeaderSize);
    FlushLocked(c);
  }

  // Sends the reply of a request; no more data than the request's output buffer holds.
  void ReplyLocked(Connection* c, const DeviceReply& reply) {
    if (c->dead) return;
    const uint32_t size =
        static_cast<uint32_t>(std::min<size_t>(reply.data.size(), c->request.output.size()));
    const size_t at = c->out.size();
    c->out.resize(at + kHeaderSize + size);
    qdev_frame::EncodeReply(c->request.id, reply.error, reply.information, reply.data.data(), size,
                            c->out.data() + at);
    FlushLocked(c);
  }

  // Reads what the socket holds now, up to kReadChunk bytes: a connection that sends more waits
  // for the next wake-up, after every other connection has had its turn. With `all`, reads on
  // until the socket is empty or ends, whatever each read brings: the end of a stream may sit
  // behind a short read. Marks the connection dead at its end.
  void ReadLocked(Connection* c, bool all = false) {
    constexpr size_t kReadChunk = 64 * 1024;
    ssize_t n;
    do {
      n = ::recv(c->fd, c->in.Space(kReadChunk), kReadChunk, MSG_DONTWAIT);
      if (n > 0) {
        c->in.Commit(static_cast<size_t>(n));
        if (!c->queued) {
          c->queued = true;
          received.push_back(c->id);
        }
      }
    } while ((n < 0 && errno == EINTR) || (all && n > 0));
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) MarkDeadLocked(c);
  }

  // The error that an open of `device` by connection c gets, 0 when it is granted.
  DWORD ShareCheckLocked(Connection* c, DWORD access, DWORD shareMode) {
    const auto device = devices.find(c->device);
    if (device != devices.end() && device->second.heldOpen &&
        SharingConflicts(access, shareMode, GENERIC_READ | GENERIC_WRITE, 0)) {
      return ERROR_SHARING_VIOLATION;
    }
    for (auto& entry : connections) {
      Connection& other = entry.second;
      if (&other == c || !other.opened || other.device != c->device || other.dead) continue;
      // A client that closed its handle just before this open has shut its socket down; its
      // end of stream is there to read, and it no longer holds the device.
      ReadLocked(&other, true);
      if (other.dead) continue;
      if (SharingConflicts(access, shareMode, other.access, other.shareMode)) {
        return ERROR_SHARING_VIOLATION;
      }
    }
    return ERROR_SUCCESS;
  }

  // Handles the whole frames that connection c has received, in one pass over its buffer. Called
  // on the server thread with the lock held; lets it go around the handler's calls.
  void ProcessFramesLocked(std::unique_lock<std::mutex>& lock, Connection* c) {
    // Only this thread erases connections, so c stays valid while the lock is let go.
    qdev_frame::Frame frame;
    while (!c->dead && !c->closeAfterFlush) {
      const qdev_frame::Decoded d = c->in.Next(&frame);
      if (d == qdev_frame::Decoded::kNeedMore) break;
      if (d == qdev_frame::Decoded::kMalformed) {
        MarkDeadLocked(c);
        break;
      }
      const Header& h = frame.header;
      if (h.type == qdev_frame::kOpen && !c->opened) {
        DWORD error = ShareCheckLocked(c, h.open.desiredAccess, h.open.shareMode);
        if (error == ERROR_SUCCESS) {
          c->opened = true;
          c->access = h.open.desiredAccess;
          c->shareMode = h.open.shareMode;
        } else {
          c->closeAfterFlush = true;
        }
        QueueOpenReplyLocked(c, error);
      } else if (h.type == qdev_frame::kRequest && c->opened) {
        DeviceRequest& request = c->request;
        request.id = h.id;
        request.ioControlCode = h.request.ioControlCode;
        request.input.assign(frame.input(), frame.input() + h.request.inputSize);
        request.output.assign(frame.output(), frame.output() + h.request.outputSize);
        DeviceHandler* handler = c->handler;
        lock.unlock();
        DeviceReply reply;
        bool complete = handler->Handle(request, &reply);
        lock.lock();
        if (complete) ReplyLocked(c, reply);
      } else if (h.type == qdev_frame::kCancel && c->opened) {
        // Handlers answer at once or never, so there is nothing to withdraw.
      } else {
        MarkDeadLocked(c);  // a frame out of place: the peer does not speak this protocol
      }
    }
  }

  // Closes the dead connections (every connection when `all`).
  void ReapDeadLocked(bool all) {
    if (!anyDead && !all) return;
    for (auto it = connections.begin(); it != connections.end();) {
      if (!it->second.dead && !all) {
        ++it;
        continue;
      }
      ::close(it->second.fd);
      it = connections.erase(it);
    }
    anyDead = false;
    setChanged = true;
  }

  void AcceptLocked(const std::string& name, Device* d) {
    for (;;) {
      int fd = ::accept4(d->listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR) continue;
        return;
      }
      const uint64_t id = nextConnection++;
      Connection& c = connections[id];
      c.id = id;
      c.fd = fd;
      c.device = name;
      c.handler = d->handler;
      setChanged = true;
      // A client sends its open as soon as it is connected: it is usually there already, and is
      // handled now rather than after another wait.
      ReadLocked(&c);
    }
  }

  // The poll set anew: the wake-up pipe, the listeners, the connections.
  void RebuildPollSetLocked() {
    pollSet.clear();
    polled.clear();
    listeners.clear();
    pollSet.push_back({wake[0], POLLIN, 0});
    polled.push_back({});
    for (auto& entry : devices) {
      pollSet.push_back({entry.second.listenFd, POLLIN, 0});
      polled.push_back({static_cast<int>(listeners.size()), nullptr});
      listeners.push_back(entry.first);
    }
    for (auto& entry : connections) {
      Connection& c = entry.second;
      c.pollIndex = pollSet.size();
      pollSet.push_back({c.fd, EventsOf(c), 0});
      polled.push_back({-1, &c});
    }
    setChanged = false;
  }

  void Loop() {
    std::unique_lock<std::mutex> lock(mu);
    for (;;) {
      if (stopping) break;
      if (setChanged) RebuildPollSetLocked();
      lock.unlock();
      const int ready = ::poll(pollSet.data(), pollSet.size(), -1);
      if (ready < 0 && errno != EINTR) {
        lock.lock();
        break;
      }
      if (pollSet[0].revents != 0) {
        uint8_t drain[64];
        while (::read(wake[0], drain, sizeof drain) > 0) {
        }
      }
      lock.lock();
      for (size_t i = 1; ready > 0 && i < pollSet.size(); ++i) {
        const short revents = pollSet[i].revents;
        if (revents == 0) continue;
        const Polled& p = polled[i];
        if (p.listenerOf >= 0) {
          auto it = devices.find(listeners[p.listenerOf]);
          if (it != devices.end()) AcceptLocked(it->first, &it->second);
          continue;
        }
        Connection* c = p.connection;
        if (c->dead) continue;
        if ((revents & POLLOUT) != 0) FlushLocked(c);
        if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !c->closeAfterFlush) ReadLocked(c);
        if ((revents & (POLLHUP | POLLERR)) != 0 && c->closeAfterFlush) MarkDeadLocked(c);
      }
      // The connections that received bytes, those that a share check read ahead of their turn
      // among them (it may add more while they are handled).
      for (size_t i = 0; i < received.size(); ++i) {
        auto it = connections.find(received[i]);
        if (it == connections.end()) continue;
        it->second.queued = false;
        ProcessFramesLocked(lock, &it->second);
      }
      received.clear();
      ReapDeadLocked(false);
    }
    ReapDeadLocked(true);
  }

  void ReleaseDevicesLocked() {
    for (auto& entry : devices) {
      Device& d = entry.second;
      ::close(d.listenFd);
      struct stat st;
      if (::lstat(d.path.c_str(), &st) == 0 && st.st_dev == d.dev && st.st_ino == d.ino) {
        ::unlink(d.path.c_str());
      }
    }
    devices.clear();
  }
};

EndpointServer::EndpointServer(std::string deviceDir) : impl_(new Impl) {
  impl_->dir = deviceDir.empty() ? qdev_posix::DeviceFolder() : std::move(deviceDir);
}

EndpointServer::~EndpointServer() {
  Stop();
  for (int fd : impl_->wake) {
    if (fd >= 0) ::close(fd);
  }
}

const std::string& EndpointServer::DeviceDir() const {
  return impl_->dir;
}

bool EndpointServer::AddDevice(const std::string& name, DeviceHandler* handler,
                               std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (handler == nullptr) {
    *error = "device \"" + name + "\" has no handler";
    return false;
  }
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\\') != std::string::npos) {
    *error = "device name \"" + name + "\" cannot name a socket in the device folder";
    return false;
  }
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->stopping) {
    *error = "the endpoint server has stopped";
    return false;
  }
  // Names that differ only in case are one device to CreateFileA, as on Windows.
  for (const auto& entry : impl_->devices) {
    if (!qdev::SameIgnoringAsciiCase(entry.first, name)) continue;
    *error = "device \"" + name + "\" is already served by this server" +
             (entry.first == name ? std::string() : " as \"" + entry.first + "\"");
    return false;
  }
  std::string path;
  if (!qdev_posix::SocketPath(impl_->dir, name, &path)) {
    *error = "socket path for device \"" + name + "\" in \"" + impl_->dir + "\" is longer than " +
             std::to_string(qdev_posix::MaxSocketPath()) + " bytes; use a shorter device folder";
    return false;
  }
  if (!MakeFolders(impl_->dir, error)) return false;

  struct stat st;
  for (const std::string& other : qdev_posix::NamesIgnoringCase(impl_->dir, name)) {
    std::string otherPath;
    if (!qdev_posix::SocketPath(impl_->dir, other, &otherPath) ||
        ::lstat(otherPath.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
      continue;
    }
    if (SomeoneListens(otherPath)) {
      *error =
          "device \"" + name + "\" is already served as \"" + other + "\" at \"" + otherPath + "\"";
      return false;
    }
    ::unlink(otherPath.c_str());  // stale, as below
  }
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = "\"" + path + "\" exists and is not a socket";
      return false;
    }
    if (SomeoneListens(path)) {
      *error = "device \"" + name + "\" is already served at \"" + path + "\"";
      return false;
    }
    // A socket that nobody serves is what a run that ended without cleaning up leaves behind.
    ::unlink(path.c_str());
  }

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = "cannot create a socket: " + ErrnoText(errno);
    return false;
  }
  sockaddr_un address = SocketAddress(path);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0 || ::lstat(path.c_str(), &st) != 0) {
    *error = "cannot serve \"" + path + "\": " + ErrnoText(errno);
    ::close(fd);
    return false;
  }
  Impl::Device& d = impl_->devices[name];
  d.handler = handler;
  d.path = path;
  d.listenFd = fd;
  d.dev = st.st_dev;
  d.ino = st.st_ino;
  impl_->setChanged = true;
  impl_->Wake();
  return true;
}

bool EndpointServer::Start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->started || impl_->stopping) {
    *error = "the endpoint server has already been started";
    return false;
  }
  if (::pipe2(impl_->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    *error = "cannot create a pipe: " + ErrnoText(errno);
    return false;
  }
  try {
    impl_->thread = std::thread([impl = impl_.get()] { impl->Loop(); });
  } catch (const std::exception& e) {
    *error = std::string("cannot start the server thread: ") + e.what();
    return false;
  }
  impl_->started = true;
  return true;
}

void EndpointServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->stopped) return;
    impl_->stopping = true;
    impl_->Wake();
  }
  if (impl_->thread.joinable()) {
    // Stop from a handler (on the server thread itself) cannot wait for that thread.
    if (impl_->thread.get_id() == std::this_thread::get_id()) return;
    impl_->thread.join();
  }
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->stopped = true;
  impl_->ReleaseDevicesLocked();
}

bool EndpointServer::HoldOpen(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  auto it = impl_->devices.find(name);
  if (it == impl_->devices.end()) return false;
  it->second.heldOpen = true;
  return true;
}

void EndpointServer::DropConnections(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  for (auto& entry : impl_->connections) {
    Impl::Connection& c = entry.second;
    if (c.device != name || c.dead) continue;
    // The client sees the end of its stream at once; the loop closes the socket itself.
    ::shutdown(c.fd, SHUT_RDWR);
    impl_->MarkDeadLocked(&c);
  }
  impl_->Wake();
}

}  // namespace qdev
