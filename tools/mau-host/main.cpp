// mau-host: the reference host. Loads the plug-in, serves resources from a folder of JSON
// files, plays a session script (or lines from standard input) and prints the plug-in's
// log lines to standard error.
//
//   mau-host [--plugin PATH] --resources DIR [--session FILE] [--speed X] [--linger SECONDS]
//            [--stats]
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "host_runtime.h"
#include "plugin_library.h"
#include "resource_store.h"
#include "session_script.h"

namespace {

using mau::host::Clock;

struct Options {
  std::string plugin;
  std::string resources;
  std::string session;
  double speed = 1.0;
  double linger = 2.0;
  bool stats = false;
};

constexpr const char* kUsage =
    "usage: mau-host [--plugin PATH] --resources DIR [--session FILE] [--speed X]\n"
    "                [--linger SECONDS] [--stats]\n";

std::atomic<bool> g_interrupted{false};

bool ParseNumber(const char* text, double* out) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= 0)) return false;
  *out = value;
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        *error = std::string(name) + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    const char* v = nullptr;
    if (arg == "--plugin") {
      if ((v = value("--plugin")) == nullptr) return false;
      options->plugin = v;
    } else if (arg == "--resources") {
      if ((v = value("--resources")) == nullptr) return false;
      options->resources = v;
    } else if (arg == "--session") {
      if ((v = value("--session")) == nullptr) return false;
      options->session = v;
    } else if (arg == "--speed") {
      if ((v = value("--speed")) == nullptr) return false;
      if (!ParseNumber(v, &options->speed) || options->speed <= 0) {
        *error = "--speed needs a positive number";
        return false;
      }
    } else if (arg == "--linger") {
      if ((v = value("--linger")) == nullptr) return false;
      if (!ParseNumber(v, &options->linger)) {
        *error = "--linger needs a number of seconds";
        return false;
      }
    } else if (arg == "--stats") {
      options->stats = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  if (options->resources.empty()) {
    *error = "--resources is required";
    return false;
  }
  return true;
}

const char* LevelName(int level) {
  switch (level) {
    case 0:
      return "OKAY";
    case 1:
      return "WARN";
    case 2:
      return "ERROR";
    case 3:
      return "ALWAYS";
  }
  return "LEVEL?";
}

void Print(int level, std::string_view text) {
  if (level < 0) {
    std::fprintf(stderr, "mau-host: %.*s\n", static_cast<int>(text.size()), text.data());
  } else {
    std::fprintf(stderr, "[%s] %.*s\n", LevelName(level), static_cast<int>(text.size()),
                 text.data());
  }
  std::fflush(stderr);
}

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void PrintStats(const MemoryStats& s) {
  std::printf("{\"peakBytesInUse\":%" PRIu64 ",\"allocationsAtPeak\":%" PRIu64
              ",\"bytesAllocated\":%" PRIu64 ",\"allocations\":%" PRIu64 ",\"bytesFreed\":%" PRIu64
              ",\"frees\":%" PRIu64 ",\"bytesInUse\":%" PRIu64 "}\n",
              s.peakBytesInUse, s.allocationsAtPeak, s.bytesAllocated, s.allocations, s.bytesFreed,
              s.frees, s.bytesAllocated - s.bytesFreed);
  std::fflush(stdout);
}

std::vector<mau::host::SessionStep> ReadSession(std::istream& in) {
  std::vector<mau::host::SessionStep> steps;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    mau::host::SessionLine parsed = mau::host::ParseSessionLine(line, number);
    if (!parsed.error.empty()) Print(-1, parsed.error + " (skipped)");
    if (parsed.step) steps.push_back(std::move(*parsed.step));
  }
  return steps;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "mau-host: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (options.plugin.empty()) {
    options.plugin =
        mau::host::ExecutableFolder() + "/" + mau::host::PluginLibrary::DefaultFileName();
  }

  std::vector<mau::host::SessionStep> steps;
  if (!options.session.empty()) {
    std::ifstream in(options.session);
    if (!in) {
      std::fprintf(stderr, "mau-host: cannot read the session %s\n", options.session.c_str());
      return 2;
    }
    steps = ReadSession(in);
  }

  mau::host::ResourceStore store(options.resources);
  mau::host::HostRuntime host(store, Print);
  if (!host.Load(options.plugin, &error)) {
    std::fprintf(stderr, "mau-host: %s\n", error.c_str());
    return 2;
  }
  mau::host::OnInterrupt([] { g_interrupted = true; });
  const auto interrupted = [] { return g_interrupted.load(); };

  const Clock::time_point start = Clock::now();
  const bool started = host.Start();
  if (!started) Print(-1, "the plug-in did not start");

  bool finished = false;  // the script or the input has ended
  if (started && !options.session.empty()) {
    for (const mau::host::SessionStep& step : steps) {
      host.RunUntil(start + Seconds(step.at / options.speed), interrupted);
      if (g_interrupted) break;
      host.Apply(step);
    }
    finished = !g_interrupted;
  } else if (started) {
    // Standard input: apply each line as it arrives.
    std::atomic<bool> endOfInput{false};
    std::thread reader([&host, &endOfInput] {
      std::string line;
      for (int number = 1; std::getline(std::cin, line); ++number) {
        mau::host::SessionLine parsed = mau::host::ParseSessionLine(line, number);
        host.Post([&host, parsed = std::move(parsed)] {
          if (!parsed.error.empty()) Print(-1, parsed.error + " (skipped)");
          if (parsed.step) host.Apply(*parsed.step);
        });
      }
      host.Post([&endOfInput] { endOfInput = true; });
    });
    reader.detach();  // a reader blocked on input must not keep the host from exiting
    host.RunUntil(Clock::time_point::max(), [&] { return endOfInput || g_interrupted; });
    finished = endOfInput;
  }
  if (finished) host.RunUntil(Clock::now() + Seconds(options.linger / options.speed), interrupted);

  if (options.stats) PrintStats(host.Stats());
  host.Stop();
  return started ? 0 : 3;
}
