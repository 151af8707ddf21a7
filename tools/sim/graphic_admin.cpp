// The graphic terminal's image and control commands: everything that reaches its content from
// outside the serial line.
#include <cstdio>
#include <cstdlib>

#include "sim/graphic_terminal.h"

namespace quiblink::sim {

using namespace graphic;

namespace {
std::string OsFileName(uint8_t subcommand, uint8_t option) {
  char name[32];
  std::snprintf(name, sizeof name, "os-%c-%02X.bin", subcommand, option);
  return name;
}

std::optional<uint8_t> ParseSubcommand(const std::string &word) {
  if (word == "a" || word == "b") return static_cast<uint8_t>(word[0]);
  auto n = ParseNumber(word);
  if (n && (*n == 'a' || *n == 'b')) return static_cast<uint8_t>(*n);
  return std::nullopt;
}

std::string Join(const std::vector<std::string> &words, size_t from) {
  std::string text;
  for (size_t i = from; i < words.size(); ++i) {
    if (i > from) text += ' ';
    text += words[i];
  }
  return text;
}
}  // namespace

Image GraphicTerminal::ToImage() const {
  Image image;
  std::string meta = "family=graphic\nname=" + config_.project_name + "\n";
  image["meta.txt"].assign(meta.begin(), meta.end());
  for (const auto &[group, data] : contents_.groups) {
    image["group-" + std::to_string(group) + ".bin"] = data;
  }
  for (const auto &[area, data] : contents_.areas) {
    image["area-" + std::to_string(area) + ".bin"] = data;
  }
  for (const auto &[key, data] : contents_.os) image[OsFileName(key.first, key.second)] = data;
  return image;
}

std::string GraphicTerminal::FromImage(const Image &image) {
  Contents loaded;
  std::string name = config_.project_name;
  for (const auto &[file, data] : image) {
    unsigned number = 0;
    char kind = 0;
    unsigned option = 0;
    int used = 0;
    if (file == "meta.txt") {
      std::string text(data.begin(), data.end());
      if (text.find("family=graphic") == std::string::npos) {
        return "image is not of a graphic terminal";
      }
      size_t at = text.find("name=");
      if (at != std::string::npos) {
        size_t end = text.find('\n', at);
        name = text.substr(at + 5, end == std::string::npos ? end : end - at - 5);
      }
    } else if (std::sscanf(file.c_str(), "group-%u.bin%n", &number, &used) == 1 &&
               used == static_cast<int>(file.size())) {
      if (number == 0 || number > 0xFFFF) return file + ": no such group";
      if (!data.empty()) loaded.groups[static_cast<uint16_t>(number)] = data;
    } else if (std::sscanf(file.c_str(), "area-%u.bin%n", &number, &used) == 1 &&
               used == static_cast<int>(file.size())) {
      bool known = (number >= 3 && number <= 6) || (number >= 240 && number <= 242);
      if (!known) return file + ": no such area";
      loaded.areas[static_cast<uint8_t>(number)] = data;
    } else if (std::sscanf(file.c_str(), "os-%c-%2X.bin%n", &kind, &option, &used) == 2 &&
               used == static_cast<int>(file.size())) {
      if ((kind != 'a' && kind != 'b') || (option != 0x00 && option != 0x80)) {
        return file + ": no such operating-system image";
      }
      loaded.os[{static_cast<uint8_t>(kind), static_cast<uint8_t>(option)}] = data;
    }
  }
  if (name.size() > 240) return "project name longer than 240 bytes";
  for (uint8_t area : {240, 241, 242}) {
    if (!loaded.areas.count(area)) loaded.areas[area] = contents_.areas[area];
  }
  contents_ = std::move(loaded);
  config_.project_name = name;
  return "";
}

std::optional<std::string> GraphicTerminal::Control(const std::vector<std::string> &words) {
  const std::string &command = words[0];
  if ((command == "group" || command == "area") && (words.size() == 2 || words.size() == 3)) {
    auto number = ParseNumber(words[1]);
    bool group = command == "group";
    bool known =
        number && (group ? *number >= 1 && *number <= 0xFFFF
                         : (*number >= 3 && *number <= 6) || (*number >= 240 && *number <= 242));
    if (!known) return "error: no such " + command;
    if (words.size() == 2) {
      const Bytes *data = nullptr;
      if (group) {
        auto it = contents_.groups.find(static_cast<uint16_t>(*number));
        if (it != contents_.groups.end()) data = &it->second;
      } else {
        auto it = contents_.areas.find(static_cast<uint8_t>(*number));
        if (it != contents_.areas.end()) data = &it->second;
      }
      return data ? "ok " + HexCompact(*data) : "ok";
    }
    std::optional<Bytes> data = words[2] == "-" ? Bytes() : ParseHex(words[2]);
    if (!data) return "error: not hex";
    if (group && data->empty()) {
      contents_.groups.erase(static_cast<uint16_t>(*number));
    } else if (group) {
      contents_.groups[static_cast<uint16_t>(*number)] = *data;
    } else {
      contents_.areas[static_cast<uint8_t>(*number)] = *data;
    }
    dirty_ = true;
    return "ok";
  }
  if (command == "os" && words.size() == 3) {
    auto sub = ParseSubcommand(words[1]);
    auto option = ParseNumber(words[2]);
    if (!sub || !option || (*option != 0x00 && *option != 0x80)) return "error: no such image";
    auto it = contents_.os.find({*sub, static_cast<uint8_t>(*option)});
    return it == contents_.os.end() ? "ok" : "ok " + HexCompact(it->second);
  }
  if (command == "groups" && words.size() == 1) {
    std::string text = "ok";
    for (const auto &[group, data] : contents_.groups) {
      text.append(" ")
          .append(std::to_string(group))
          .append(":")
          .append(std::to_string(data.size()));
    }
    return text;
  }
  if (command == "state" && words.size() == 1) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "ok offline=%d resets=%u sw_resets=%u breaks=%u deletes=%u "
                  "password_checks=%u baud_code=0x%02X",
                  state_.offline ? 1 : 0, state_.resets, state_.sw_resets, state_.breaks,
                  state_.deletes, state_.password_checks, state_.baud_code);
    return text;
  }
  if (command == "set" && words.size() >= 2) return Set(words);
  return std::nullopt;
}

std::optional<std::string> GraphicTerminal::Set(const std::vector<std::string> &words) {
  const std::string &key = words[1];
  // Every value must fit its field: a byte, 16 bits (either sign) or 32 bits (either sign).
  const long long low = key == "type" ? 0 : key == "memdata" ? -0x8000 : -0x80000000LL;
  const long long high = key == "type" ? 0xFF : key == "memdata" ? 0xFFFF : 0xFFFFFFFFLL;
  std::vector<long long> values;
  for (size_t i = 2; i < words.size(); ++i) {
    auto v = ParseInRange(words[i], low, high);
    if (v) values.push_back(*v);
  }
  bool all_numbers = values.size() == words.size() - 2;
  if (key == "password") {
    config_.password = Join(words, 2);
  } else if (key == "name") {
    std::string name = Join(words, 2);
    if (name.size() > 240) return "error: name longer than 240 bytes";
    config_.project_name = name;
    dirty_ = true;
  } else if (key == "type" && values.size() == 1 && all_numbers) {
    config_.type = static_cast<uint8_t>(values[0]);
  } else if (key == "memdata" && values.size() == 3 && all_numbers) {
    memory_values_ =
        std::array<uint16_t, 3>{static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]),
                                static_cast<uint16_t>(values[2])};
  } else if (key == "projinfo" && values.size() == 2 && all_numbers) {
    project_values_ =
        std::array<uint32_t, 2>{static_cast<uint32_t>(values[0]), static_cast<uint32_t>(values[1])};
  } else if (key == "osinfo" && (words.size() == 4 || words.size() == 5) && values.size() == 2) {
    os_values_ =
        std::array<uint32_t, 2>{static_cast<uint32_t>(values[0]), static_cast<uint32_t>(values[1])};
    os_entries_swapped_ = words.size() == 5 && words[4] == "swapped";
    if (words.size() == 5 && !os_entries_swapped_) return "error: usage: set osinfo A B [swapped]";
  } else if (key == "computed" && words.size() == 2) {
    memory_values_.reset();
    project_values_.reset();
    os_values_.reset();
    os_entries_swapped_ = false;
  } else {
    return "error: unknown setting or wrong values";
  }
  return "ok";
}

}  // namespace quiblink::sim
