// The classic panel part of the demo: model code 0 (areas) and model code 3 (address gap).
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "connection.h"
#include "demo.h"
#include "sim_launcher.h"

namespace quiblink::cli {
namespace {

constexpr int32_t kGap = 3960;  // model 3: logical addresses from here on sit 8 higher
constexpr uint32_t kWireBase = 0x8080;

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13);
  return bytes;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// The panel's own view of its memory, by wire address, over the simulator's control socket.
Bytes Peek(const SimProcess &sim, uint32_t wire, size_t count) {
  std::string reply = sim.Control("peek " + Hex(wire) + " " + std::to_string(count));
  auto bytes = ParseHex(reply.rfind("ok ", 0) == 0 ? reply.substr(3) : "");
  Expect(bytes.has_value(), "peek " + Hex(wire) + ": " + reply);
  return *bytes;
}

struct Panel {
  std::unique_ptr<SimProcess> sim;
  std::optional<Channel> channel;
};

void Open(const DemoSettings &settings, uint16_t model, Panel &panel, DemoReport &report) {
  report.Step("start the simulator", [&] {
    panel.sim = std::make_unique<SimProcess>(
        settings.simulator,
        std::vector<std::string>{"--family", "classic", "--model", std::to_string(model)});
    return "serving " + panel.sim->path();
  });
  report.Step("open a channel", [&] {
    uint16_t port = ResolvePort(panel.sim->path());
    panel.channel = Channel::open_classic(port, model);
    return "COM" + std::to_string(port + 1) + " = " + panel.sim->path() + ", handle " +
           std::to_string(panel.channel->handle());
  });
}

void Close(Panel &panel, DemoReport &report) {
  report.Step("close the channel", [&] {
    panel.channel->close();
    return std::string("closed");
  });
}

void Model0(const DemoSettings &settings, DemoReport &report) {
  Panel panel;
  Open(settings, 0, panel, report);
  Bytes data = Pattern(200, 0x11);
  report.Step("write 200 bytes at 0x100", [&] {
    panel.channel->write(0x100, data);
    return std::string("7 requests of up to 32 bytes");
  });
  report.Step("the panel holds them",
              [&] { return ExpectSame(Peek(*panel.sim, 0x100, 200), data); });
  report.Step("read them back", [&] {
    Bytes back(data.size());
    panel.channel->read(0, 0x100, back);
    return ExpectSame(back, data);
  });
  report.Step("read 48 bytes of area 3", [&] {
    // Area 3 of model code 0 starts at 0x2232A; the panel is given content there first.
    Bytes area = Pattern(48, 0xA0);
    std::string reply = panel.sim->Control("poke 0x2232A " + [&] {
      std::string hex;
      for (uint8_t byte : area) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        hex += digits;
      }
      return hex;
    }());
    Expect(reply == "ok", "poke: " + reply);
    Bytes back(area.size());
    panel.channel->read(3, 0, back);
    return ExpectSame(back, area) + " from 0x2232A";
  });
  Close(panel, report);
}

void Model3(const DemoSettings &settings, DemoReport &report) {
  Panel panel;
  Open(settings, 3, panel, report);
  constexpr int32_t kStart = kGap - 32;
  Bytes data = Pattern(64, 0x5C);
  report.Step("write 64 bytes across the address gap", [&] {
    panel.channel->write(kStart, data);
    return "logical " + std::to_string(kStart) + ".." + std::to_string(kStart + 63);
  });
  report.Step("the panel holds them on both sides of the gap", [&] {
    Bytes below = Peek(*panel.sim, kWireBase + kStart, 32);
    Bytes above = Peek(*panel.sim, kWireBase + kGap + 8, 32);
    ExpectSame(below, Bytes(data.begin(), data.begin() + 32));
    ExpectSame(above, Bytes(data.begin() + 32, data.end()));
    return "32 bytes below " + Hex(kWireBase + kGap) + ", 32 from " + Hex(kWireBase + kGap + 8);
  });
  report.Step("read them back", [&] {
    Bytes back(data.size());
    panel.channel->read(0, kStart, back);
    return ExpectSame(back, data);
  });
  report.Step("a write at address 0 sends the preamble", [&] {
    panel.channel->write(0, Pattern(4, 0x01));
    Bytes preamble = Peek(*panel.sim, kWireBase - 36, 32);
    std::string text(preamble.begin(), preamble.end());
    Expect(text.rfind("these are the screen data", 0) == 0, "preamble reads \"" + text + "\"");
    return "\"" + text.substr(0, 25) + "\" at " + Hex(kWireBase - 36);
  });
  report.Step("an odd count is refused", [&] {
    Error error = ExpectFailure(RC_BAD_ARGUMENT, [&] {
      Bytes three(3);
      panel.channel->read(0, 0, three);
    });
    return std::to_string(error.code()) + " " + error.name();
  });
  Close(panel, report);
}

}  // namespace

void RunClassicDemo(const DemoSettings &settings, uint16_t model, DemoReport &report) {
  report.Section("Classic panel, model code " + std::to_string(model) + " (9600 baud, 7E1)");
  if (model == 3) {
    Model3(settings, report);
  } else {
    Model0(settings, report);
  }
}

}  // namespace quiblink::cli
