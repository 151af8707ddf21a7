// The inventory: what a good file gives, and each broken rule named with the file, the line and
// the key.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "fleet/inventory.h"
#include "fleet/port_identity.h"

namespace quiblink::fleet {
namespace {

constexpr const char *kGood = R"(
[[terminal]]
name = "press-1"
port = "rfc2217://10.0.0.5:4001"
family = "graphic"
baud = 38400
areas = [3, 240]
tags = ["hall-a"]

[[terminal]]
name = "panel-7"
port = "COM2"
family = "classic"
model = 3
ranges = [{ address = 0, count = 36 }, { address = 100, count = 100 }]
)";

TEST(Inventory, AGoodFileGivesEveryTerminalWithItsSettings) {
  const Inventory inventory = ParseInventory(kGood, "plant.toml");
  ASSERT_EQ(inventory.terminals.size(), 2u);
  const TerminalSpec &press = inventory.terminals[0];
  EXPECT_EQ(press.port, "rfc2217://10.0.0.5:4001");
  EXPECT_EQ(press.baud, 38400);
  EXPECT_EQ(press.areas, (std::vector<uint8_t>{3, 240}));
  EXPECT_EQ(press.line, 2);
  const TerminalSpec &panel = inventory.terminals[1];
  EXPECT_EQ(panel.family, backup::Family::kClassic);
  EXPECT_EQ(panel.model, 3);
  ASSERT_EQ(panel.ranges.size(), 2u);
  EXPECT_EQ(panel.ranges[1].address, 100);
  EXPECT_EQ(panel.ranges[0].count, 36);
  EXPECT_EQ(Select(inventory, {false, {}, "hall-a"}).size(), 1u);
  EXPECT_EQ(Select(inventory, {false, {"panel-7", "press-1"}, ""})[0].name, "panel-7");
  EXPECT_THROW(Select(inventory, {false, {"nobody"}, ""}), InventoryError);
  EXPECT_THROW(Select(inventory, {false, {}, "hall-z"}), InventoryError);
}

struct BadCase {
  const char *name;
  std::string text;
  std::string said;  // what the message must hold: the place and the key
};

std::string Graphic(const std::string &name, const std::string &port,
                    const std::string &extra = "") {
  return "[[terminal]]\nname = \"" + name + "\"\nport = \"" + port +
         "\"\nfamily = \"graphic\"\nbaud = 38400\n" + extra;
}

void PrintTo(const BadCase &c, std::ostream *out) {
  *out << c.name;
}

class InventoryRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(InventoryRefuses, NamingTheFileTheLineAndTheKey) {
  try {
    ParseInventory(GetParam().text, "plant.toml");
    FAIL() << "accepted";
  } catch (const InventoryError &error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().said), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InventoryRefuses,
    ::testing::Values(
        BadCase{"SyntaxError", "[[terminal]]\nname = \"a\nport = 1\n", "plant.toml:2:"},
        BadCase{"MissingPort", "[[terminal]]\nname = \"a\"\nfamily = \"graphic\"\nbaud = 1\n",
                "plant.toml:1: terminal \"a\": key 'port': is missing"},
        BadCase{"MissingBaud",
                "[[terminal]]\nname = \"a\"\nport = \"COM1\"\nfamily = \"graphic\"\n",
                "terminal \"a\": key 'baud': is missing"},
        BadCase{"UnknownFamily",
                "[[terminal]]\nname = \"a\"\nport = \"COM1\"\nfamily = \"touch\"\n",
                "plant.toml:4: terminal \"a\": key 'family': 'touch' is neither"},
        BadCase{"DuplicateName", Graphic("a", "COM1") + Graphic("a", "COM2"),
                "plant.toml:6: terminal \"a\": key 'name': \"a\" is already the name of the "
                "terminal at line 1"},
        BadCase{"DuplicatePort", Graphic("a", "/dev/ttyUSB0") + Graphic("b", "/dev/./ttyUSB0/"),
                "terminal \"b\": key 'port': /dev/./ttyUSB0/ is the line of terminal \"a\""},
        BadCase{"OneServerPortTwoSchemes",
                Graphic("a", "rfc2217://Box:4001") + Graphic("b", "tcp://box:4001"),
                "one line, one terminal"},
        BadCase{"UnknownKey", Graphic("a", "COM1", "speed = 9600\n"),
                "plant.toml:6: terminal \"a\": key 'speed': unknown key"},
        BadCase{"BadPort", Graphic("a", "ttyS0"), "plant.toml:3: terminal \"a\": key 'port'"},
        BadCase{"ComAboveTen", Graphic("a", "COM11"), "key 'port': 'COM11' is none of"},
        BadCase{"AreaNotReadable", Graphic("a", "COM1", "areas = [3, 7]\n"),
                "plant.toml:6: terminal \"a\": key 'areas': each area is one of 3-6"},
        BadCase{"ClassicWithoutRanges",
                "[[terminal]]\nname = \"p\"\nport = \"COM1\"\nfamily = \"classic\"\n",
                "terminal \"p\": key 'ranges': is missing"},
        BadCase{"RangeOutsideTheModel",
                "[[terminal]]\nname = \"p\"\nport = \"COM1\"\nfamily = \"classic\"\nmodel = 3\n"
                "ranges = [{ address = 1, count = 3 }]\n",
                "plant.toml:6: terminal \"p\": key 'ranges':"},
        BadCase{"NoTerminal", "title = \"x\"\n", "key 'title': unknown"}),
    [](const auto &info) { return info.param.name; });

TEST(PortIdentity, ComNamesTheDeviceItIsMappedTo) {
  char folder[] = "/tmp/quiblink-port-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string device = std::string(folder) + "/tty", link = std::string(folder) + "/link";
  ASSERT_EQ(close(creat(device.c_str(), 0600)), 0);
  ASSERT_EQ(symlink(device.c_str(), link.c_str()), 0);
  setenv("QUIBLINK_COM4", link.c_str(), 1);
  EXPECT_EQ(PortIdentity("COM4"), PortIdentity(device));
  EXPECT_EQ(PortIdentity("\\\\.\\COM4"), PortIdentity(link));
  unsetenv("QUIBLINK_COM4");
  EXPECT_EQ(PortIdentity("COM4"), "/dev/ttyS3");
  EXPECT_EQ(PortIdentity("rfc2217://Host:1/"), PortIdentity("tcp://host:1"));
  EXPECT_NE(PortIdentity("tcp://host:1"), PortIdentity("tcp://host:2"));
  unlink(link.c_str());
  unlink(device.c_str());
  rmdir(folder);
}

}  // namespace
}  // namespace quiblink::fleet
