// quiblink-bench: transfers through the library against quiblink-sim on
// pseudo-terminals, paced at the line speed, each figure printed beside what
// the timing rules allow (bound) and what the bare line allows (floor).
//
//   quiblink-bench [--quick] [--mode sleep|wake|both] [--only SECTION[,SECTION...]]
//
// Sections: sim, graphic, classic, latency, shared, ports, network, monitor, backup, fleet. The
// modes are the engine's two ways of pausing (src/engine/waiting.h); "both" runs
// every section under each and ends with the ratio of the two. The network
// section (the graphic transfers straight and through ser2net) and the monitor
// section (straight and through `quiblink monitor`) run under the last mode only.
#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/waiting.h"
#ifdef QUIBLINK_BENCH_MONITOR
#include "monitor_bench.h"
#ifdef QUIBLINK_BENCH_BACKUP
#include "backup_bench.h"
#include "fleet_bench.h"
#endif
#endif
#include "network_bench.h"
#include "scenarios.h"

namespace quibbench {
namespace {

struct Plan {
  std::vector<uint32_t> graphic_bauds;
  uint32_t graphic_bytes;
  uint32_t classic_bytes;
  std::vector<uint32_t> latency_bauds;
  int queries;
  uint32_t shared_baud;
  int shared_callers;
  int shared_queries;
  uint32_t ports_baud;
  int ports;
  uint32_t port_bytes;
  int sim_exchanges;
  uint32_t network_baud;
  uint32_t network_bytes;
};

const Plan kFull = {{9600, 19200, 38400, 57600},
                    65536,
                    4096,
                    {9600, 19200, 38400, 57600},
                    200,
                    38400,
                    2,
                    100,
                    19200,
                    10,
                    16384,
                    40,
                    38400,
                    65536};
const Plan kQuick = {{9600, 57600}, 4096, 512,  {38400}, 40,    38400, 2, 40,
                     38400,         10,   2048, 12,      38400, 4096};

struct Options {
  Plan plan = kFull;
  std::vector<std::string> modes = {"sleep", "wake"};
  std::set<std::string> only;
  bool Runs(const std::string &section) const { return only.empty() || only.count(section) > 0; }
};

bool ParseOptions(int argc, char **argv, Options *options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--quick") {
      options->plan = kQuick;
    } else if (arg == "--mode" && i + 1 < argc) {
      std::string mode = argv[++i];
      if (mode == "both") {
        options->modes = {"sleep", "wake"};
      } else if (mode == "sleep" || mode == "wake") {
        options->modes = {mode};
      } else {
        return false;
      }
    } else if (arg == "--only" && i + 1 < argc) {
      std::stringstream list(argv[++i]);
      for (std::string section; std::getline(list, section, ',');) options->only.insert(section);
    } else {
      return false;
    }
  }
  return true;
}

class Terminals {
 public:
  Terminal &Get(const std::string &family, uint32_t baud, int instance = 0) {
    auto key = std::make_tuple(family, baud, instance);
    auto found = terminals_.find(key);
    if (found == terminals_.end()) {
      found = terminals_.emplace(key, std::make_unique<Terminal>(family, baud)).first;
    }
    return *found->second;
  }

 private:
  std::map<std::tuple<std::string, uint32_t, int>, std::unique_ptr<Terminal>> terminals_;
};

void Print(std::vector<Row> *all, const std::vector<Row> &rows) {
  for (const Row &r : rows) {
    PrintRow(r);
    all->push_back(r);
  }
}

// The ratio of the two modes for every measure both ran.
void PrintComparison(const std::vector<Row> &rows) {
  printf("\nwake against sleep (same run):\n");
  printf("%-22s %6s %10s %10s %7s %9s\n", "measure", "baud", "sleep", "wake", "unit", "speed-up");
  for (const Row &s : rows) {
    if (s.mode != "sleep") continue;
    for (const Row &w : rows) {
      if (w.mode != "wake" || w.name != s.name || w.baud != s.baud) continue;
      double speedup = s.lower_is_better ? s.figure / w.figure : w.figure / s.figure;
      printf("%-22s %6u %10.1f %10.1f %7s %8.3fx\n", s.name.c_str(), s.baud, s.figure, w.figure,
             s.unit.c_str(), speedup);
    }
  }
}

// The targets: transfers at 98% of their bound, many ports at 95% of
// that many times one port, under 2% of a core while transferring.
void PrintTargets(const std::vector<Row> &rows) {
  printf("\ntargets:\n");
  for (const Row &r : rows) {
    if (r.mode == "-" || r.bytes == 0) continue;
    const bool many = r.name.find("ports at once") != std::string::npos;
    const double want = many ? 0.95 : 0.98;
    const bool rate_ok = r.Ratio() >= want;
    const bool cpu_ok = r.CpuPercent() < 2.0;
    printf("%-5s %-22s %6u  %s %.1f%% (want %.0f%%)  cpu %s %.2f%%\n", r.mode.c_str(),
           r.name.c_str(), r.baud, rate_ok ? "met   " : "MISSED", 100 * r.Ratio(), 100 * want,
           cpu_ok ? "met   " : "MISSED", r.CpuPercent());
  }
}

int Run(const Options &options) {
  const Plan &plan = options.plan;
  Terminals terminals;
  std::vector<Row> rows;
  PrintHeader();
  if (options.Runs("sim")) {
    Print(&rows, SimulatorPacing(terminals.Get("graphic", 9600), plan.sim_exchanges));
    Print(&rows, SimulatorPacing(terminals.Get("graphic", 57600), plan.sim_exchanges));
    Print(&rows, {SleepAccuracy(10 * plan.sim_exchanges)});
  }
  for (const std::string &mode : options.modes) {
    quib::EngineWaitStyle.store(mode == "wake" ? quib::kWaitWaking : quib::kWaitSleeping);
    if (options.Runs("graphic")) {
      for (uint32_t baud : plan.graphic_bauds) {
        Print(&rows, GraphicTransfers(mode, terminals.Get("graphic", baud), plan.graphic_bytes));
      }
    }
    if (options.Runs("classic")) {
      Print(&rows, ClassicTransfers(mode, terminals.Get("classic", 9600), plan.classic_bytes));
    }
    if (options.Runs("latency")) {
      for (uint32_t baud : plan.latency_bauds) {
        Print(&rows, {QueryLatency(mode, terminals.Get("graphic", baud), plan.queries)});
      }
    }
    if (options.Runs("shared")) {
      Print(&rows, {SharedPort(mode, terminals.Get("graphic", plan.shared_baud),
                               plan.shared_callers, plan.shared_queries)});
    }
    if (options.Runs("ports")) {
      std::vector<Terminal *> many;
      for (int port = 0; port < plan.ports; ++port) {
        many.push_back(&terminals.Get("graphic", plan.ports_baud, port + 1));
      }
      Print(&rows, ManyPorts(mode, many, plan.port_bytes));
    }
#ifdef QUIBLINK_BENCH_MONITOR
    if (options.Runs("monitor") && mode == options.modes.back()) {
      Print(&rows, MonitorTransfers(mode, terminals.Get("graphic", 57600, 101), plan.network_bytes,
                                    plan.queries));
    }
#endif
#ifdef QUIBLINK_BENCH_BACKUP
    if (options.Runs("backup") && mode == options.modes.back()) {
      Print(&rows, BackupFileSpeed(64u << 20));
      Print(&rows, NetworkBackup(mode, terminals.Get("graphic", plan.network_baud, 102),
                                 plan.network_bytes));
    }
#endif
#ifdef QUIBLINK_BENCH_FLEET
    if (options.Runs("fleet") && mode == options.modes.back()) {
      Print(&rows, FleetBackup(20, plan.network_bytes / 4));
    }
#endif
    if (options.Runs("network") && mode == options.modes.back()) {
      Print(&rows, NetworkTransfers(mode, terminals.Get("graphic", plan.network_baud, 100),
                                    plan.network_bytes));
    }
  }
  if (options.modes.size() == 2) PrintComparison(rows);
  PrintTargets(rows);
  bool ok = true;
  for (const Row &r : rows) ok = ok && r.ok;
  if (!ok) printf("\nsome measures FAILED (marked above)\n");
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace quibbench

int main(int argc, char **argv) {
  quibbench::Options options;
  if (!quibbench::ParseOptions(argc, argv, &options)) {
    fprintf(stderr,
            "usage: quiblink-bench [--quick] [--mode sleep|wake|both] "
            "[--only sim,graphic,classic,latency,shared,ports,network,monitor,backup,fleet]\n");
    return 2;
  }
  try {
    return quibbench::Run(options);
  } catch (const std::exception &e) {
    fprintf(stderr, "quiblink-bench: %s\n", e.what());
    return 1;
  }
}
