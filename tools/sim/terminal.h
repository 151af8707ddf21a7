// What the serving loop needs of a terminal, whatever its family.
#pragma once

#include <any>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/wire_names.h"

namespace quiblink::sim {

// Named byte blobs: the content of a terminal as an image holds it.
using Image = std::map<std::string, Bytes>;

enum class ReplyShape {
  kNone,         // the request goes unanswered
  kAck,          // classic: single ACK
  kNak,          // classic: single NAK
  kClassicData,  // classic: STX, digits, ETX, checksum
  kGraphic,      // graphic reply frame
};

struct Reply {
  Bytes bytes;
  ReplyShape shape = ReplyShape::kNone;
  std::string note;  // why a request was refused or ignored, for the log
  int new_baud = 0;  // a baud-rate change was accepted: the rate it stands for
};

// What fault triggers look at: the command of a request and whether it reads.
struct RequestKey {
  int command = -1;
  bool read = false;
};

class Terminal {
 public:
  virtual ~Terminal() = default;

  virtual Family family() const = 0;
  virtual RequestKey Classify(const Bytes &request) const = 0;
  virtual Reply Handle(const Bytes &request) = 0;
  virtual std::string DescribeRequest(const Bytes &request) const = 0;
  virtual std::string DescribeReply(const Bytes &reply) const = 0;

  // Position of a block transfer in progress. A reply spoiled on the line puts it back, so the
  // repeated request is served as the first try was.
  virtual std::any SaveTransfer() const { return {}; }
  virtual void RestoreTransfer(const std::any &) {}

  virtual Image ToImage() const = 0;
  // Returns an error text, empty on success.
  virtual std::string FromImage(const Image &image) = 0;
  // True once after every change of content that an image keeps.
  virtual bool TakeDirty() = 0;

  // Family-specific control commands. nullopt when the command is not one of them; otherwise
  // the reply line ("ok ..." or "error: ...").
  virtual std::optional<std::string> Control(const std::vector<std::string> &words) = 0;
};

}  // namespace quiblink::sim
