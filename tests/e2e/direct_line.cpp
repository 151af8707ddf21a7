// This suite's line: the simulator's pseudo-terminal, opened by the library itself.
#include "e2e_support.h"

namespace quiblink::e2e {

namespace {

class DirectLine : public LineReach {
 public:
  explicit DirectLine(std::string path) : path_(std::move(path)) {}
  std::string device() const override { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<LineReach> ReachLine(const std::string &pty_path) {
  return std::make_unique<DirectLine>(pty_path);
}

}  // namespace quiblink::e2e
