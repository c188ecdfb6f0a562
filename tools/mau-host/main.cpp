// mau-host: the reference host. Loads the plug-in, serves resources from a folder of JSON
// files, plays a session script (or lines from standard input) and prints the plug-in's
// log lines to standard error.
//
//   mau-host [--plugin PATH] --resources DIR [--session FILE] [--speed X] [--linger SECONDS]
//            [--stats]
//
// Exit status: 0 when the session played in full; 2 for a usage error, a resource folder
// or session that cannot be read, a plug-in that cannot be loaded, or a session with a
// rejected line (reported after the whole session has played); 3 when the plug-in did not
// start; 130 after Ctrl+C (SIGINT) and 143 after SIGTERM, once the plug-in has stopped.
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
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

// The exit status an interrupt asks for; 0 until one arrives. Only the first one counts.
std::atomic<int> g_interruptStatus{0};

// A finite number, the whole text.
bool ParseNumber(const char* text, double* out) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", seconds);
  return text;
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
      if (!ParseNumber(v, &options->linger) || options->linger < 0 ||
          options->linger > mau::host::kMaxScheduleSeconds) {
        *error = "--linger needs a number of seconds from 0 to " +
                 SecondsText(mau::host::kMaxScheduleSeconds);
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
  if (options->linger / options->speed > mau::host::kMaxScheduleSeconds) {
    *error = "--linger " + SecondsText(options->linger) + " at --speed " +
             SecondsText(options->speed) + " lasts more than " +
             SecondsText(mau::host::kMaxScheduleSeconds) + " seconds";
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

// The time from the plug-in's start at which a step plays, at the chosen speed. False, with
// the reason in error, when it lies beyond what the host schedules.
bool StepTime(const mau::host::SessionStep& step, double speed, Clock::duration* out,
              std::string* error) {
  if (mau::host::ToClockDuration(step.at / speed, out)) return true;
  *error = "session line " + std::to_string(step.line) + ": at " + SecondsText(step.at) +
           (speed != 1 ? " at --speed " + SecondsText(speed) : std::string()) + " lies more than " +
           SecondsText(mau::host::kMaxScheduleSeconds) + " seconds ahead";
  return false;
}

// A session line turned into a step to play at its time; an error when it was rejected.
struct TimedStep {
  std::optional<mau::host::SessionStep> step;
  Clock::duration at{};
  std::string error;
};

TimedStep ParseLine(const std::string& line, int number, double speed) {
  mau::host::SessionLine parsed = mau::host::ParseSessionLine(line, number);
  TimedStep timed{std::move(parsed.step), {}, std::move(parsed.error)};
  if (timed.step && !StepTime(*timed.step, speed, &timed.at, &timed.error)) timed.step.reset();
  return timed;
}

void PrintStats(const MemoryStats& s) {
  std::printf("{\"peakBytesInUse\":%" PRIu64 ",\"allocationsAtPeak\":%" PRIu64
              ",\"bytesAllocated\":%" PRIu64 ",\"allocations\":%" PRIu64 ",\"bytesFreed\":%" PRIu64
              ",\"frees\":%" PRIu64 ",\"bytesInUse\":%" PRIu64 "}\n",
              s.peakBytesInUse, s.allocationsAtPeak, s.bytesAllocated, s.allocations, s.bytesFreed,
              s.frees, s.bytesAllocated - s.bytesFreed);
  std::fflush(stdout);
}

// Reads the session file's steps, reporting and counting each rejected line. False, with
// the reason in error, when the file cannot be read.
bool ReadSession(const std::string& path, double speed, std::vector<TimedStep>* steps,
                 int* rejected, std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *error = "cannot read the session " + path + ": it is a folder";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the session " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    TimedStep timed = ParseLine(line, number, speed);
    if (!timed.error.empty()) {
      Print(-1, timed.error + " (skipped)");
      ++*rejected;
    }
    if (timed.step) steps->push_back(std::move(timed));
  }
  if (in.bad()) {
    *error = "cannot read the session " + path;
    return false;
  }
  return true;
}

// Why the resources folder cannot serve, or empty when it can.
std::string CheckResourceFolder(const std::string& folder) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(folder, ec);
  if (status.type() == std::filesystem::file_type::directory) return {};
  if (status.type() == std::filesystem::file_type::not_found) {
    return "the resource folder " + folder + " does not exist";
  }
  if (ec) return "cannot read the resource folder " + folder + ": " + ec.message();
  return "the resource folder " + folder + " is not a folder";
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
  // Everything the command line names is checked before the plug-in is loaded.
  if (error = CheckResourceFolder(options.resources); !error.empty()) {
    Print(-1, error);
    return 2;
  }
  int rejected = 0;  // session lines reported and skipped
  std::vector<TimedStep> steps;
  if (!options.session.empty() &&
      !ReadSession(options.session, options.speed, &steps, &rejected, &error)) {
    Print(-1, error);
    return 2;
  }

  mau::host::ResourceStore store(options.resources);
  mau::host::HostRuntime host(store, Print);
  if (!host.Load(options.plugin, &error)) {
    Print(-1, error);
    return 2;
  }
  mau::host::OnInterrupt([](int status) {
    int none = 0;
    g_interruptStatus.compare_exchange_strong(none, status);
  });
  const auto interrupted = [] { return g_interruptStatus.load() != 0; };

  const Clock::time_point start = Clock::now();
  const bool started = host.Start();
  if (!started) Print(-1, "the plug-in did not start");

  bool finished = false;  // the script or the input has ended
  if (started && !options.session.empty()) {
    for (const TimedStep& timed : steps) {
      host.RunUntil(start + timed.at, interrupted);
      if (interrupted()) break;
      host.Apply(*timed.step);
    }
    finished = !interrupted();
  } else if (started) {
    // Standard input: apply each line as it arrives. The posted work runs on this thread,
    // which alone counts the rejected lines.
    std::atomic<bool> endOfInput{false};
    const double speed = options.speed;
    std::thread reader([&host, &endOfInput, &rejected, speed] {
      std::string line;
      for (int number = 1; std::getline(std::cin, line); ++number) {
        host.Post([&host, &rejected, timed = ParseLine(line, number, speed)] {
          if (!timed.error.empty()) {
            Print(-1, timed.error + " (skipped)");
            ++rejected;
          }
          if (timed.step) host.Apply(*timed.step);
        });
      }
      host.Post([&endOfInput] { endOfInput = true; });
    });
    reader.detach();  // a reader blocked on input must not keep the host from exiting
    host.RunUntil(Clock::time_point::max(), [&] { return endOfInput || interrupted(); });
    finished = endOfInput && !interrupted();
  }
  if (finished) {
    Clock::duration linger{};
    mau::host::ToClockDuration(options.linger / options.speed, &linger);  // checked with options
    host.RunUntil(Clock::now() + linger, interrupted);
  }

  if (options.stats) PrintStats(host.Stats());
  if (interrupted()) Print(-1, "interrupted: stopping the plug-in");
  host.Stop();
  if (const int status = g_interruptStatus.load(); status != 0) return status;
  if (!started) return 3;
  if (rejected > 0) {
    Print(-1, std::to_string(rejected) +
                  (rejected == 1 ? " session line was" : " session lines were") + " rejected");
    return 2;
  }
  return 0;
}
