// A graphic terminal: project data in a grouped area and plain areas, operating-system images,
// and the control and query commands of the binary protocol.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "sim/graphic_transfer.h"
#include "sim/terminal.h"
#include "wire/graphic_frame.h"

namespace quiblink::sim {

struct GraphicConfig {
  std::string password;
  uint8_t type = 0x01;
  std::string project_name;
  // Non-zero: the project name the terminal reports is the first line of this group, while the
  // group is there, as on terminals whose name travels inside the project data.
  uint16_t name_group = 0;
};

class GraphicTerminal : public Terminal {
 public:
  struct State {
    bool offline = false;
    unsigned resets = 0;
    unsigned sw_resets = 0;
    unsigned breaks = 0;
    unsigned deletes = 0;
    unsigned password_checks = 0;
    int baud_code = 0;
  };

  static constexpr uint32_t kCapacityKib = 8192;

  explicit GraphicTerminal(GraphicConfig config);

  graphic::Contents &contents() { return contents_; }
  const graphic::Contents &contents() const { return contents_; }
  const State &state() const { return state_; }
  // The name the terminal reports.
  std::string project_name() const;

  Family family() const override { return Family::kGraphic; }
  RequestKey Classify(const Bytes &request) const override;
  Reply Handle(const Bytes &request) override;
  std::string DescribeRequest(const Bytes &request) const override;
  std::string DescribeReply(const Bytes &reply) const override;
  std::any SaveTransfer() const override;
  void RestoreTransfer(const std::any &saved) override;
  Image ToImage() const override;
  std::string FromImage(const Image &image) override;
  bool TakeDirty() override;
  std::optional<std::string> Control(const std::vector<std::string> &words) override;

 private:
  struct Transfer {
    graphic::BlockReader reader;
    graphic::ChunkAssembler writer;
  };

  Reply Answer(const graphic::Request &request, uint8_t status, const Bytes &data = {});
  Reply BlockRead(const graphic::Request &request);
  Reply BlockWrite(const graphic::Request &request);
  Reply Query(const graphic::Request &request);
  Reply CheckPassword(const graphic::Request &request);
  std::optional<std::string> Set(const std::vector<std::string> &words);

  GraphicConfig config_;
  graphic::Contents contents_;
  Transfer transfer_;
  State state_;
  bool dirty_ = false;
  // Query answers set over the control interface; computed from the content otherwise.
  std::optional<std::array<uint16_t, 3>> memory_values_;
  std::optional<std::array<uint32_t, 2>> project_values_;
  std::optional<std::array<uint32_t, 2>> os_values_;
  bool os_entries_swapped_ = false;
};

}  // namespace quiblink::sim
