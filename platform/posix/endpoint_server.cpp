// The serving side of device endpoints: one listening unix socket per device name in the device
// folder, and a poll loop on a thread of its own that accepts connections, enforces the share
// mode of opens, hands requests to the device's handler and sends the replies back.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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
    std::vector<uint8_t> in;       // received bytes that do not yet make a whole frame
    std::vector<uint8_t> out;      // frames not yet written
  };

  std::string dir;
  std::mutex mu;  // guards everything below; never held while a handler runs
  std::map<std::string, Device> devices;
  std::map<uint64_t, Connection> connections;
  uint64_t nextConnection = 1;
  int wake[2] = {-1, -1};
  std::thread thread;
  bool started = false;
  bool stopping = false;
  bool stopped = false;

  void Wake() {
    if (wake[1] < 0) return;
    uint8_t byte = 0;
    ssize_t rc = ::write(wake[1], &byte, 1);
    (void)rc;  // a full pipe already wakes the loop
  }

  // Writes what the connection has queued, as far as the socket takes it now.
  void FlushLocked(Connection* c) {
    size_t done = 0;
    while (done < c->out.size()) {
      ssize_t n =
          ::send(c->fd, c->out.data() + done, c->out.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) c->dead = true;
        break;
      }
      done += static_cast<size_t>(n);
    }
    c->out.erase(c->out.begin(), c->out.begin() + static_cast<ptrdiff_t>(done));
    if (c->closeAfterFlush && c->out.empty()) c->dead = true;
  }

  void QueueFrameLocked(Connection* c, const Header& h, const uint8_t* payload, size_t size) {
    uint8_t head[kHeaderSize];
    qdev_frame::EncodeHeader(h, head);
    c->out.insert(c->out.end(), head, head + kHeaderSize);
    if (size > 0) c->out.insert(c->out.end(), payload, payload + size);
    FlushLocked(c);
  }

  // Sends the reply of a request; no more data than the request's output buffer holds.
  void ReplyLocked(Connection* c, const DeviceRequest& request, const DeviceReply& reply) {
    if (c->dead) return;
    const uint32_t id = request.id;
    size_t size = std::min<size_t>(reply.data.size(), request.output.size());
    QueueFrameLocked(
        c, qdev_frame::ReplyHeader(id, reply.error, reply.information, static_cast<uint32_t>(size)),
        reply.data.data(), size);
  }

  // Reads whatever the socket holds now; marks the connection dead at its end.
  void ReadLocked(Connection* c) {
    uint8_t buffer[16384];
    for (;;) {
      ssize_t n = ::recv(c->fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        c->in.insert(c->in.end(), buffer, buffer + n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) c->dead = true;
      return;
    }
  }

  // The error that an open of `device` by connection c gets, 0 when it is granted.
  DWORD ShareCheckLocked(Connection* c, DWORD access, DWORD shareMode) {
    for (auto& entry : connections) {
      Connection& other = entry.second;
      if (&other == c || !other.opened || other.device != c->device || other.dead) continue;
      // A client that closed its handle just before this open has shut its socket down; its
      // end of stream is there to read, and it no longer holds the device.
      ReadLocked(&other);
      if (other.dead) continue;
      if (SharingConflicts(access, shareMode, other.access, other.shareMode)) {
        return ERROR_SHARING_VIOLATION;
      }
    }
    return ERROR_SUCCESS;
  }

  // Handles the whole frames that connection `key` has received. Called on the server thread
  // without the lock; takes it around everything but the handler's calls.
  void ProcessFrames(uint64_t key) {
    std::unique_lock<std::mutex> lock(mu);
    auto found = connections.find(key);
    if (found == connections.end()) return;
    // Only this thread erases connections, so c stays valid while the lock is let go.
    Connection* c = &found->second;
    while (!c->dead && !c->closeAfterFlush && c->in.size() >= kHeaderSize) {
      Header h = qdev_frame::DecodeHeader(c->in.data());
      uint32_t size = 0;
      if (!qdev_frame::PayloadSize(h, &size)) {
        c->dead = true;
        break;
      }
      if (c->in.size() < kHeaderSize + size) break;
      std::vector<uint8_t> payload(c->in.begin() + kHeaderSize, c->in.begin() + kHeaderSize + size);
      c->in.erase(c->in.begin(), c->in.begin() + kHeaderSize + size);

      if (h.type == qdev_frame::kOpen && !c->opened) {
        DWORD error = ShareCheckLocked(c, h.open.desiredAccess, h.open.shareMode);
        if (error == ERROR_SUCCESS) {
          c->opened = true;
          c->access = h.open.desiredAccess;
          c->shareMode = h.open.shareMode;
        } else {
          c->closeAfterFlush = true;
        }
        QueueFrameLocked(c, qdev_frame::OpenReplyHeader(error), nullptr, 0);
      } else if (h.type == qdev_frame::kRequest && c->opened) {
        DeviceRequest request;
        request.id = h.id;
        request.ioControlCode = h.request.ioControlCode;
        request.input.assign(payload.begin(), payload.begin() + h.request.inputSize);
        request.output.assign(payload.begin() + h.request.inputSize, payload.end());
        DeviceHandler* handler = c->handler;
        lock.unlock();
        DeviceReply reply;
        bool complete = handler->Handle(request, &reply);
        lock.lock();
        if (complete) ReplyLocked(c, request, reply);
      } else if (h.type == qdev_frame::kCancel && c->opened) {
        // Handlers answer at once or never, so there is nothing to withdraw.
      } else {
        c->dead = true;  // a frame out of place: the peer does not speak this protocol
      }
    }
  }

  // Closes the dead connections (every connection when `all`).
  void ReapDead(bool all) {
    std::lock_guard<std::mutex> lock(mu);
    for (auto it = connections.begin(); it != connections.end();) {
      if (!it->second.dead && !all) {
        ++it;
        continue;
      }
      ::close(it->second.fd);
      it = connections.erase(it);
    }
  }

  void AcceptLocked(const std::string& name, Device* d) {
    for (;;) {
      int fd = ::accept4(d->listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR) continue;
        return;
      }
      Connection c;
      c.id = nextConnection++;
      c.fd = fd;
      c.device = name;
      c.handler = d->handler;
      connections.emplace(c.id, std::move(c));
    }
  }

  void Loop() {
    for (;;) {
      std::vector<pollfd> fds;
      std::vector<uint64_t> keys;  // connection of each pollfd after the listeners
      std::vector<std::string> listeners;
      {
        std::lock_guard<std::mutex> lock(mu);
        if (stopping) break;
        fds.push_back({wake[0], POLLIN, 0});
        for (auto& entry : devices) {
          fds.push_back({entry.second.listenFd, POLLIN, 0});
          listeners.push_back(entry.first);
        }
        for (auto& entry : connections) {
          const Connection& c = entry.second;
          short events = c.closeAfterFlush ? 0 : POLLIN;
          if (!c.out.empty()) events |= POLLOUT;
          fds.push_back({c.fd, events, 0});
          keys.push_back(entry.first);
        }
      }
      if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
      if (fds[0].revents != 0) {
        uint8_t drain[64];
        while (::read(wake[0], drain, sizeof drain) > 0) {
        }
      }
      {
        std::lock_guard<std::mutex> lock(mu);
        for (size_t i = 0; i < listeners.size(); ++i) {
          if (fds[1 + i].revents == 0) continue;
          auto it = devices.find(listeners[i]);
          if (it != devices.end()) AcceptLocked(it->first, &it->second);
        }
        for (size_t i = 0; i < keys.size(); ++i) {
          short revents = fds[1 + listeners.size() + i].revents;
          auto it = connections.find(keys[i]);
          if (revents == 0 || it == connections.end()) continue;
          if ((revents & POLLOUT) != 0) FlushLocked(&it->second);
          if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !it->second.closeAfterFlush) {
            ReadLocked(&it->second);
          }
          if ((revents & (POLLHUP | POLLERR)) != 0 && it->second.closeAfterFlush) {
            it->second.dead = true;
          }
        }
      }
      // Every connection, not only those that polled readable: a share check may have read
      // another connection's frames ahead of its turn.
      std::vector<uint64_t> all;
      {
        std::lock_guard<std::mutex> lock(mu);
        for (const auto& entry : connections) all.push_back(entry.first);
      }
      for (uint64_t key : all) ProcessFrames(key);
      ReapDead(false);
    }
    ReapDead(true);
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

void EndpointServer::DropConnections(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  for (auto& entry : impl_->connections) {
    Impl::Connection& c = entry.second;
    if (c.device != name || c.dead) continue;
    // The client sees the end of its stream at once; the loop closes the socket itself.
    ::shutdown(c.fd, SHUT_RDWR);
    c.dead = true;
  }
  impl_->Wake();
}

}  // namespace qdev
