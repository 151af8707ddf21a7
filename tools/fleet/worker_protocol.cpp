#include "worker_protocol.h"

#include <stdexcept>

#include "wire/hex.h"

namespace quiblink::fleet {
namespace {

using nlohmann::json;

const char *const kKinds[] = {"state", "progress", "step", "done", "info", "failed"};

json TerminalToJson(const TerminalSpec &spec) {
  json ranges = json::array();
  for (const auto &r : spec.ranges) ranges.push_back({r.area, r.address, r.count});
  return {{"name", spec.name}, {"port", spec.port},   {"family", backup::FamilyName(spec.family)},
          {"baud", spec.baud}, {"model", spec.model}, {"areas", spec.areas},
          {"ranges", ranges},  {"tags", spec.tags}};
}

TerminalSpec TerminalFromJson(const json &item) {
  TerminalSpec spec;
  spec.name = item.at("name").get<std::string>();
  spec.port = item.at("port").get<std::string>();
  spec.family = item.at("family").get<std::string>() == "classic" ? backup::Family::kClassic
                                                                  : backup::Family::kGraphic;
  spec.baud = item.at("baud").get<uint16_t>();
  spec.model = item.at("model").get<uint16_t>();
  spec.areas = item.at("areas").get<std::vector<uint8_t>>();
  for (const json &r : item.at("ranges")) {
    spec.ranges.push_back(
        {r.at(0).get<uint16_t>(), r.at(1).get<int32_t>(), r.at(2).get<uint16_t>()});
  }
  spec.tags = item.at("tags").get<std::vector<std::string>>();
  return spec;
}

json InfoToJson(const backup::TerminalInfo &info) {
  const std::string &name = info.project_name;
  return {
      {"type", info.type},
      {"os", {info.os_entry_00, info.os_entry_80}},
      {"memory", {info.memory[0], info.memory[1], info.memory[2]}},
      {"project", {info.project_value1, info.project_value2}},
      {"name", wire::HexCompact({reinterpret_cast<const uint8_t *>(name.data()), name.size()})}};
}

backup::TerminalInfo InfoFromJson(const json &item) {
  backup::TerminalInfo info;
  info.type = item.at("type").get<uint32_t>();
  info.os_entry_00 = item.at("os").at(0).get<uint32_t>();
  info.os_entry_80 = item.at("os").at(1).get<uint32_t>();
  for (int i = 0; i < 3; ++i) info.memory[i] = item.at("memory").at(i).get<int32_t>();
  info.project_value1 = item.at("project").at(0).get<uint32_t>();
  info.project_value2 = item.at("project").at(1).get<uint32_t>();
  auto name = wire::ParseHex(item.at("name").get<std::string>());
  if (!name) throw std::runtime_error("a project name that is not hex");
  info.project_name.assign(name->begin(), name->end());
  return info;
}

}  // namespace

const char *ModeName(Mode mode) {
  switch (mode) {
    case Mode::kBackup:
      return "backup";
    case Mode::kCheck:
      return "check";
    case Mode::kQuickCheck:
      return "quick-check";
  }
  return "?";
}

std::string EncodeRequest(const WorkerRequest &request) {
  json terminals = json::array();
  for (const TerminalSpec &spec : request.terminals) terminals.push_back(TerminalToJson(spec));
  return json{{"objects", request.objects},
              {"mode", ModeName(request.mode)},
              {"terminals", terminals}}
             .dump() +
         "\n";
}

WorkerRequest DecodeRequest(const std::string &text) {
  try {
    const json item = json::parse(text);
    WorkerRequest request;
    request.objects = item.at("objects").get<std::string>();
    const std::string mode = item.at("mode").get<std::string>();
    for (Mode m : {Mode::kBackup, Mode::kCheck, Mode::kQuickCheck}) {
      if (mode == ModeName(m)) request.mode = m;
    }
    for (const json &spec : item.at("terminals"))
      request.terminals.push_back(TerminalFromJson(spec));
    if (request.terminals.empty() || request.terminals.size() > kTerminalsPerWorker) {
      throw std::runtime_error("a worker takes 1 to 10 terminals");
    }
    return request;
  } catch (const json::exception &error) {
    throw std::runtime_error(std::string("not a worker request: ") + error.what());
  }
}

std::string EncodeEvent(const Event &event) {
  json line = {{"terminal", event.terminal}, {"event", kKinds[event.kind]}};
  if (!event.text.empty()) line["text"] = event.text;
  if (event.kind == Event::kProgress) {
    line["done"] = event.done;
    line["total"] = event.total;
  }
  if (event.kind == Event::kDone) line["manifest"] = event.manifest;
  if (event.kind == Event::kInfo) line["info"] = InfoToJson(event.info);
  return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

Event DecodeEvent(const std::string &text) {
  try {
    const json line = json::parse(text);
    Event event;
    event.terminal = line.at("terminal").get<std::string>();
    const std::string kind = line.at("event").get<std::string>();
    int found = -1;
    for (int i = 0; i < 6; ++i) found = kind == kKinds[i] ? i : found;
    if (found < 0) throw std::runtime_error("an event of no kind known: " + kind);
    event.kind = static_cast<Event::Kind>(found);
    event.text = line.value("text", "");
    event.done = line.value("done", uint64_t{0});
    event.total = line.value("total", uint64_t{0});
    if (event.kind == Event::kDone) event.manifest = line.at("manifest");
    if (event.kind == Event::kInfo) event.info = InfoFromJson(line.at("info"));
    return event;
  } catch (const json::exception &error) {
    throw std::runtime_error(std::string("a worker's line is no event: ") + error.what());
  }
}

}  // namespace quiblink::fleet
