#include "fleet_run.h"

#include <map>

#include "backup/manifest.h"
#include "compare.h"
#include "stop_points.h"

namespace quiblink::fleet {
namespace {

Outcome Said(const std::string &terminal, const std::string &state, const std::string &detail) {
  Outcome outcome;
  outcome.terminal = terminal;
  outcome.state = state;
  outcome.detail = detail;
  return outcome;
}

std::string Kib(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
  return text;
}

std::string BackupDetail(Catalogue &catalogue, const std::string &terminal,
                         const Content &content) {
  const auto latest = catalogue.Latest(terminal);
  std::string detail =
      Kib(content.Bytes()) + " in " + std::to_string(content.parts.size()) + " parts";
  if (latest && latest->content_hash == content.hash) {
    return detail + ", unchanged since v" + std::to_string(latest->number);
  }
  return detail + (latest ? ", changed since v" + std::to_string(latest->number) : ", the first");
}

void RequireObjects(const Objects &objects, const Content &content) {
  for (const Part &part : content.parts) {
    if (!objects.Has(part.object)) {
      throw StoreError(part.Key() + ": its object " + part.object.substr(0, 12) +
                       " is not in the store; nothing recorded");
    }
  }
}

Outcome Done(Store &store, int64_t run, Mode mode, const Event &event) {
  std::vector<backup::MemberEntry> members;
  const backup::Backup shape = backup::ParseManifest(event.manifest, &members);
  const Content content = ContentOf(shape, members);
  Catalogue &catalogue = store.catalogue();
  if (mode == Mode::kQuickCheck) {  // a classic panel: its ranges are all it has to compare
    Outcome verdict = Judge(catalogue, event.terminal, &content, shape.terminal, true);
    catalogue.AddResult(run, event.terminal, shape.family, verdict.state, verdict.detail,
                        std::nullopt, verdict.compared);
    return verdict;
  }
  RequireObjects(store.objects(), content);
  Outcome outcome = Said(event.terminal, "ok", BackupDetail(catalogue, event.terminal, content));
  if (mode == Mode::kCheck)
    outcome = Judge(catalogue, event.terminal, &content, shape.terminal, false);
  StopPoint("before-commit", false);
  const Version made =
      catalogue.AddVersion(run, event.terminal, shape.origin, shape.terminal, content,
                           outcome.state, outcome.detail, outcome.compared);
  StopPoint("after-commit", false);
  outcome.version = made.number;
  return outcome;
}

Outcome Info(Store &store, int64_t run, const Event &event) {
  Outcome verdict = Judge(store.catalogue(), event.terminal, nullptr, event.info, true);
  store.catalogue().AddResult(run, event.terminal, backup::Family::kGraphic, verdict.state,
                              verdict.detail, std::nullopt, verdict.compared);
  return verdict;
}

Outcome Failed(Store &store, int64_t run, Mode mode, const TerminalSpec &spec,
               const std::string &why) {
  Outcome outcome = Said(spec.name, mode == Mode::kBackup ? "failed" : kUnreachable, why);
  store.catalogue().AddResult(run, spec.name, spec.family, outcome.state, why);
  return outcome;
}

// The last event of a terminal, recorded; a store that refuses (a full disk) fails that
// terminal and leaves the catalogue as it was.
Outcome Record(Store &store, int64_t run, Mode mode, const TerminalSpec &spec, const Event &event) {
  try {
    if (event.kind == Event::kDone) return Done(store, run, mode, event);
    if (event.kind == Event::kInfo) return Info(store, run, event);
    return Failed(store, run, mode, spec, event.text);
  } catch (const std::exception &error) {
    const std::string why = std::string("not recorded: ") + error.what();
    try {
      return Failed(store, run, mode, spec, why);
    } catch (const std::exception &) {
      return Said(spec.name, mode == Mode::kBackup ? "failed" : kUnreachable, why);
    }
  }
}

std::string Summary(const std::vector<Outcome> &outcomes) {
  std::map<std::string, int> counts;
  for (const Outcome &outcome : outcomes) ++counts[outcome.state];
  std::string text;
  for (const auto &[state, count] : counts) {
    text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + state;
  }
  return text;
}

}  // namespace

Outcome Judge(Catalogue &catalogue, const std::string &terminal, const Content *content,
              const backup::TerminalInfo &info, bool quick) {
  Outcome verdict = Said(terminal, kNoRelease, "no released version to compare with");
  const auto released = catalogue.Released(terminal);
  if (!released) return verdict;
  verdict.compared = released->number;
  if (content != nullptr) {
    for (const PartChange &change :
         CompareContents(catalogue.LoadContent(released->content_hash), *content)) {
      verdict.differences.push_back(change.Describe());
    }
  }
  if (released->family == backup::Family::kGraphic) {
    for (const std::string &field : CompareInfo(released->info, info, quick)) {
      verdict.differences.push_back(field);
    }
  }
  const std::string against = "released v" + std::to_string(released->number);
  verdict.state = verdict.differences.empty() ? kSame : kChanged;
  verdict.detail = verdict.differences.empty() ? "as " + against : "differs from " + against + ": ";
  for (size_t i = 0; i < verdict.differences.size(); ++i) {
    verdict.detail += (i == 0 ? "" : "; ") + verdict.differences[i];
  }
  return verdict;
}

RunSummary RunFleet(Store &store, Mode mode, const std::vector<TerminalSpec> &terminals,
                    const WorkerCommand &command, const RunObserver &observer) {
  RunSummary summary;
  summary.run = store.catalogue().BeginRun(ModeName(mode));
  std::map<std::string, const TerminalSpec *> specs;
  for (const TerminalSpec &spec : terminals) specs[spec.name] = &spec;
  WorkerRequest request{store.objects().folder(), mode, terminals};
  RunWorkers(command, request, [&](const Event &event) {
    if (!event.Final()) {
      if (observer.event) observer.event(event);
      return;
    }
    summary.outcomes.push_back(Record(store, summary.run, mode, *specs.at(event.terminal), event));
    if (observer.outcome) observer.outcome(summary.outcomes.back());
  });
  try {
    std::vector<std::string> states;
    for (const Outcome &outcome : summary.outcomes) states.push_back(outcome.state);
    const int status = mode == Mode::kBackup
                           ? (Summary(summary.outcomes).find("failed") != std::string::npos)
                           : CheckExitStatus(states);
    store.catalogue().EndRun(summary.run, status, Summary(summary.outcomes));
  } catch (const StoreError &) {
    // The log's last line stays open, as a killed run's would; every result above is whole.
  }
  return summary;
}

}  // namespace quiblink::fleet
