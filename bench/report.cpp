// bench-report: reads the JSON results of the benchmark programs and prints each measure of the
// transport's goals against its baseline and its goal, one column per build.
//
//   bench-report [LABEL=]FOLDER...
//
// Each FOLDER holds result files (--benchmark_out, JSON) of any number of runs, in subfolders
// too; every repetition of a benchmark in them counts once, and the table gives medians. With two
// folders (the build before a change and after it, run alternately) it compares them.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// One repetition of one benchmark: its time per iteration in seconds and its counters.
struct Run {
  double seconds = 0;
  std::map<std::string, double> counters;
};

// The results of one build, by benchmark name (the run name, "RequestRoundTrip/256/real_time").
struct Build {
  std::string label;
  std::map<std::string, std::vector<Run>> runs;

  // The runs of a benchmark: the name as registered, "RequestRoundTrip/256", before its
  // suffixes ("/real_time", "/iterations:1/manual_time").
  const std::vector<Run>* Find(const std::string& name) const {
    for (const auto& entry : runs) {
      if (entry.first == name || entry.first.rfind(name + "/", 0) == 0) return &entry.second;
    }
    return nullptr;
  }
};

double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double SecondsPerUnit(const std::string& unit) {
  if (unit == "ns") return 1e-9;
  if (unit == "us") return 1e-6;
  if (unit == "ms") return 1e-3;
  return 1;
}

// A result file's text as JSON: the benchmark library writes a value that is not a number (the
// spread of a counter that is 0 in every repetition, say) as a bare NaN or Infinity, which JSON
// does not have; such a value becomes null, and the rest of the file still counts.
std::string AsJson(std::string text) {
  static const std::regex kNotANumber(R"(:\s*-?(NaN|Infinity)\b)");
  return std::regex_replace(text, kNotANumber, ": null");
}

bool Load(const fs::path& file, Build* build) {
  std::ifstream in(file);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  json j = json::parse(AsJson(text), nullptr, false);
  if (j.is_discarded() || !j.contains("benchmarks")) return false;
  for (const json& b : j["benchmarks"]) {
    if (b.value("run_type", "iteration") != "iteration" || b.value("error_occurred", false)) {
      continue;
    }
    Run run;
    run.seconds = b.value("real_time", 0.0) * SecondsPerUnit(b.value("time_unit", "ns"));
    static const char* kStandard[] = {"name",
                                      "family_index",
                                      "per_family_instance_index",
                                      "run_name",
                                      "run_type",
                                      "repetitions",
                                      "repetition_index",
                                      "threads",
                                      "iterations",
                                      "real_time",
                                      "cpu_time",
                                      "time_unit"};
    for (auto it = b.begin(); it != b.end(); ++it) {
      if (!it.value().is_number()) continue;
      if (std::find(std::begin(kStandard), std::end(kStandard), it.key()) != std::end(kStandard)) {
        continue;
      }
      run.counters[it.key()] = it.value().get<double>();
    }
    build->runs[b.value("run_name", b.value("name", ""))].push_back(run);
  }
  return true;
}

// A measure's medians in one build: the time in seconds, or a counter.
double MedianTime(const Build& b, const std::string& name) {
  const std::vector<Run>* runs = b.Find(name);
  if (runs == nullptr) return NAN;
  std::vector<double> v;
  for (const Run& r : *runs) v.push_back(r.seconds);
  return Median(v);
}

double WorstTime(const Build& b, const std::string& name) {
  const std::vector<Run>* runs = b.Find(name);
  double worst = NAN;
  if (runs == nullptr) return worst;
  for (const Run& r : *runs) worst = std::isnan(worst) ? r.seconds : std::max(worst, r.seconds);
  return worst;
}

double MedianCounter(const Build& b, const std::string& name, const std::string& counter) {
  const std::vector<Run>* runs = b.Find(name);
  if (runs == nullptr) return NAN;
  std::vector<double> v;
  for (const Run& r : *runs) {
    auto it = r.counters.find(counter);
    if (it != r.counters.end()) v.push_back(it->second);
  }
  return Median(v);
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// One cell: what a build measured, and whether it meets the goal ("" when there is none).
struct Cell {
  std::string text;
  std::string verdict;
};

struct Row {
  std::string measure;
  std::string goal;
  std::function<Cell(const Build&)> cell;
};

const char* Verdict(bool met) {
  return met ? "met" : "NOT MET";
}

Cell Missing() {
  return {"-", ""};
}

constexpr double kPldContainerBytes = 122479;
constexpr double kControlTransferRate = 15.9e6;  // USB 2.0 high-speed control transfers, bytes/s

std::vector<Row> Rows() {
  std::vector<Row> rows;
  rows.push_back({"full update, both images, real time", "overhead <= 0.3% median, 0.5% worst",
                  [](const Build& b) -> Cell {
                    const double t = MedianTime(b, "UpdateRealTime") * 1e3;
                    const double worst = WorstTime(b, "UpdateRealTime") * 1e3;
                    const double wait = MedianCounter(b, "UpdateRealTime", "mandated_wait_ms");
                    if (std::isnan(t) || std::isnan(wait)) return Missing();
                    const double over = t - wait, worstOver = worst - wait;
                    return {Format("%.1f ms: +%.1f ms (%.2f%%), worst +%.1f ms (%.2f%%)", t, over,
                                   100 * over / wait, worstOver, 100 * worstOver / wait),
                            Verdict(over <= 0.003 * wait && worstOver <= 0.005 * wait)};
                  }});
  rows.push_back({"  the same, sleeps 1/1000: between requests", "nothing adds time",
                  [](const Build& b) -> Cell {
                    const std::string n = "UpdateScaled";
                    const double t = MedianTime(b, n) * 1e3;
                    if (std::isnan(t)) return Missing();
                    return {Format("%.1f ms, %.0f requests; first after %.2f ms; largest gap "
                                   "%.2f ms, all gaps %.1f ms",
                                   t, MedianCounter(b, n, "requests"),
                                   MedianCounter(b, n, "to_first_request_ms"),
                                   MedianCounter(b, n, "largest_other_gap_ms"),
                                   MedianCounter(b, n, "other_gaps_ms")),
                            ""};
                  }});
  rows.push_back({"eight modules with --all / one without arguments, real time",
                  "at most 1.25x one", [](const Build& b) -> Cell {
                    const double eight = MedianTime(b, "EightModulesAll") * 1e3;
                    const double one = MedianTime(b, "OneModule") * 1e3;
                    if (std::isnan(eight) || std::isnan(one)) return Missing();
                    return {Format("%.1f / %.1f ms = %.3fx", eight, one, eight / one),
                            Verdict(eight <= 1.25 * one)};
                  }});
  for (int size : {0, 256, 4096}) {
    rows.push_back(
        {Format("one request, %d bytes: DeviceIoControl / raw socket", size), "at most 1.5x raw",
         [size](const Build& b) -> Cell {
           const double t = MedianTime(b, Format("RequestRoundTrip/%d", size)) * 1e6;
           const double raw = MedianTime(b, Format("RawSocketPingPong/%d", size)) * 1e6;
           if (std::isnan(t) || std::isnan(raw)) return Missing();
           return {Format("%.1f / %.1f us = %.2fx", t, raw, t / raw), Verdict(t <= 1.5 * raw)};
         }});
  }
  rows.push_back({"PLD write phase, 122,479 bytes, persistence on / off",
                  ">= 15.9 MB/s with persistence", [](const Build& b) -> Cell {
                    const double on = MedianTime(b, "PldWrite/persist:1");
                    const double off = MedianTime(b, "PldWrite/persist:0");
                    if (std::isnan(on)) return Missing();
                    const double rate = kPldContainerBytes / on;
                    return {Format("%.2f / %.2f ms: %.1f MB/s", on * 1e3, off * 1e3, rate / 1e6),
                            Verdict(rate >= kControlTransferRate)};
                  }});
  rows.push_back(
      {"slot scan: a foreign module before the R46-90", "<= 0.2 ms", [](const Build& b) -> Cell {
         const double t = MedianTime(b, "ForeignModule") * 1e3;
         if (std::isnan(t)) return Missing();
         return {Format("%.3f ms", t), Verdict(t <= 0.2)};
       }});
  rows.push_back(
      {"slot scan: an empty slot, 0 / 100 / 1000 endpoints",
       "independent of the folder (1000 <= 1.25x 0)", [](const Build& b) -> Cell {
         const double none = MedianTime(b, "EmptySlot/0") * 1e6;
         const double some = MedianTime(b, "EmptySlot/100") * 1e6;
         const double many = MedianTime(b, "EmptySlot/1000") * 1e6;
         if (std::isnan(none) || std::isnan(many)) return Missing();
         return {Format("%.1f / %.1f / %.1f us", none, some, many), Verdict(many <= 1.25 * none)};
       }});
  rows.push_back({"simulator stop after SIGTERM", "under 5 ms", [](const Build& b) -> Cell {
                    const double t = MedianTime(b, "StopAfterSigterm") * 1e3;
                    const double worst = WorstTime(b, "StopAfterSigterm") * 1e3;
                    if (std::isnan(t)) return Missing();
                    return {Format("%.2f ms, worst %.2f ms", t, worst), Verdict(t < 5)};
                  }});
  rows.push_back({"simulator memory over a long run", "bounded (<= 1 byte per request)",
                  [](const Build& b) -> Cell {
                    const std::string n = "MemoryOverALongRun";
                    const double perRequest = MedianCounter(b, n, "bytes_per_request");
                    if (std::isnan(perRequest)) return Missing();
                    return {Format("%+.1f bytes per request over %.0f requests", perRequest,
                                   MedianCounter(b, n, "requests")),
                            Verdict(perRequest <= 1)};
                  }});
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Build> builds;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    Build b;
    const size_t eq = arg.find('=');
    b.label = eq == std::string::npos ? fs::path(arg).filename().string() : arg.substr(0, eq);
    const fs::path folder = eq == std::string::npos ? arg : arg.substr(eq + 1);
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
      if (it->path().extension() == ".json") Load(it->path(), &b);
    }
    if (b.runs.empty()) {
      std::cerr << "bench-report: no results in " << folder << "\n";
      return 1;
    }
    builds.push_back(std::move(b));
  }
  if (builds.empty()) {
    std::cerr << "usage: bench-report [LABEL=]FOLDER...\n";
    return 2;
  }
  for (const Row& row : Rows()) {
    std::cout << row.measure << "   (goal: " << row.goal << ")\n";
    for (const Build& b : builds) {
      const Cell c = row.cell(b);
      std::cout << "    " << b.label << ": " << c.text;
      if (!c.verdict.empty()) std::cout << "   [" << c.verdict << "]";
      std::cout << "\n";
    }
  }
  for (const Build& b : builds) {
    size_t runs = 0;
    for (const auto& entry : b.runs) runs = std::max(runs, entry.second.size());
    std::cout << b.label << ": medians of up to " << runs << " repetitions per measure\n";
  }
  return 0;
}
