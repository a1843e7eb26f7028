// The case-insensitive index of a device folder (posix/device_names.h). One folder is indexed at
// a time, the one that the last lookup named: its names by their ASCII-lower-case spelling,
// listed after an inotify watch is in place, so that no change is missed, and then brought up to
// date from the watch's events at each lookup. Whatever the index cannot follow (no inotify, a
// folder that is missing, removed or moved, an event queue that overflowed) makes the lookup
// list the folder as it did before there was an index.
#include "platform/posix/device_names.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>

#include "platform/ascii_case.h"

namespace qdev_posix {
namespace {

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// Every name in the folder; an unreadable or missing folder holds none.
template <class Visit>
void ListFolder(const std::string& folder, const Visit& visit) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    visit(it->path().filename().string());
  }
}

class FolderIndex {
 public:
  std::vector<std::string> Lookup(const std::string& folder, const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!Follow(folder)) {
      std::vector<std::string> names;
      ListFolder(folder, [&](std::string entry) {
        if (entry != name && qdev::SameIgnoringAsciiCase(entry, name)) {
          names.push_back(std::move(entry));
        }
      });
      std::sort(names.begin(), names.end());
      return names;
    }
    std::vector<std::string> names;
    auto it = names_.find(Folded(name));
    if (it != names_.end()) {
      for (const std::string& entry : it->second) {
        if (entry != name) names.push_back(entry);  // a set: already sorted
      }
    }
    return names;
  }

 private:
  // Brings the index of `folder` up to date; false when it cannot be had.
  bool Follow(const std::string& folder) {
    if (inotify_ < 0) {
      inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      if (inotify_ < 0) return false;
    }
    if (watch_ >= 0 && folder == folder_ && ReadEvents()) return true;
    return Start(folder);
  }

  // A fresh index of `folder`: the watch first, then the listing.
  bool Start(const std::string& folder) {
    if (watch_ >= 0) ::inotify_rm_watch(inotify_, watch_);
    watch_ = -1;
    names_.clear();
    Drain();
    const uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                              IN_MOVE_SELF | IN_ONLYDIR;
    const int watch = ::inotify_add_watch(inotify_, folder.c_str(), kChanges);
    if (watch < 0) return false;
    watch_ = watch;
    folder_ = folder;
    ListFolder(folder, [&](const std::string& entry) { Add(entry); });
    return true;
  }

  void Add(const std::string& entry) { names_[Folded(entry)].insert(entry); }
  void Remove(const std::string& entry) {
    auto it = names_.find(Folded(entry));
    if (it == names_.end()) return;
    it->second.erase(entry);
    if (it->second.empty()) names_.erase(it);
  }

  // Applies the events that have come; false when the index no longer holds (the folder went,
  // the queue overflowed, the watch ended).
  bool ReadEvents() {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
      if (n == 0) return false;
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if ((e->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
          return false;
        }
        if (e->wd != watch_ || e->len == 0) continue;
        const std::string entry = e->name;  // zero-padded to its length
        if ((e->mask & (IN_CREATE | IN_MOVED_TO)) != 0) Add(entry);
        if ((e->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) Remove(entry);
      }
    }
  }

  // Drops the events of a watch that is gone.
  void Drain() {
    char buffer[8192];
    while (::read(inotify_, buffer, sizeof buffer) > 0) {
    }
  }

  std::mutex mu_;
  int inotify_ = -1;
  int watch_ = -1;
  std::string folder_;
  std::map<std::string, std::set<std::string>> names_;  // by the folded spelling
};

}  // namespace

std::vector<std::string> NamesIgnoringCase(const std::string& folder, const std::string& name) {
  // Never destroyed: a lookup may come from a thread that runs while the program ends.
  static FolderIndex* index = new FolderIndex;
  return index->Lookup(folder, name);
}

}  // namespace qdev_posix
