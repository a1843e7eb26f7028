// The case-insensitive lookup of device names (posix/device_names.h). The names of the folder
// that the last lookup named are kept, by their ASCII-lower-case spelling, with the folder's
// identity and its last change (modification and status-change times) as they were when it was
// listed; a lookup that finds the folder unchanged answers from them after one stat, whatever
// the folder's size. A change gives the folder new times, so it is listed again; only a listing
// made while the folder might still change within the same tick of the file system's clock is
// not kept (its last change less than kSettle before it, or a second for times in whole seconds,
// which coarse file systems keep).
#include "platform/posix/device_names.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>

#include "platform/ascii_case.h"

namespace qdev_posix {
namespace {

constexpr int64_t kSettleNs = 50 * 1000000LL;          // longer than any clock tick
constexpr int64_t kCoarseSettleNs = 2000 * 1000000LL;  // for times kept in whole seconds

// A time of stat's, in nanoseconds.
template <class Time>
int64_t Ns(const Time& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// What tells one state of a folder from another.
struct FolderStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  int64_t modified = 0;  // ns
  int64_t changed = 0;   // ns

  static bool Of(const std::string& folder, FolderStamp* stamp) {
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    *stamp = {st.st_dev, st.st_ino, Ns(st.st_mtim), Ns(st.st_ctim)};
    return true;
  }
  bool operator==(const FolderStamp& o) const {
    return dev == o.dev && ino == o.ino && modified == o.modified && changed == o.changed;
  }
  int64_t LastChange() const { return std::max(modified, changed); }
};

class FolderIndex {
 public:
  std::vector<std::string> Lookup(const std::string& folder, const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    FolderStamp stamp;
    const bool exists = FolderStamp::Of(folder, &stamp);
    if (!exists || !valid_ || folder != folder_ || !(stamp == stamp_)) {
      Index(folder, exists ? &stamp : nullptr);
    }
    std::vector<std::string> names;
    auto it = names_.find(Folded(name));
    if (it != names_.end()) {
      for (const std::string& entry : it->second) {
        if (entry != name) names.push_back(entry);  // from a set: sorted
      }
    }
    return names;
  }

 private:
  // Lists the folder; keeps the listing for later lookups when the folder had settled.
  void Index(const std::string& folder, const FolderStamp* before) {
    // The clock of the file system's times.
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    names_.clear();
    std::error_code error;  // an unreadable or missing folder holds no names
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
      std::string entry = it->path().filename().string();
      names_[Folded(entry)].insert(std::move(entry));
    }
    FolderStamp after;
    valid_ = before != nullptr && FolderStamp::Of(folder, &after) && after == *before &&
             now - before->LastChange() >
                 (before->LastChange() % 1000000000LL == 0 ? kCoarseSettleNs : kSettleNs);
    folder_ = folder;
    if (valid_) stamp_ = *before;
  }

  std::mutex mu_;
  bool valid_ = false;  // names_ is the folder as long as its stamp is stamp_
  std::string folder_;
  FolderStamp stamp_;
  std::map<std::string, std::set<std::string>> names_;  // by the folded spelling
};

}  // namespace

std::vector<std::string> NamesIgnoringCase(const std::string& folder, const std::string& name) {
  // Never destroyed: a lookup may come from a thread that runs while the program ends.
  static FolderIndex* index = new FolderIndex;
  return index->Lookup(folder, name);
}

}  // namespace qdev_posix
