// This suite's line: the simulator's pseudo-terminal served by ser2net, reached through
// rfc2217://127.0.0.1:N, so that the end-to-end tests of both families run over the network.
#include "e2e/e2e_support.h"
#include "ser2net_process.h"

namespace quiblink::e2e {

namespace {

class Ser2netLine : public LineReach {
 public:
  explicit Ser2netLine(const std::string &path)
      : server_(network::Ser2net::Start(path, "38400e81")) {}
  std::string device() const override { return server_->Url("rfc2217"); }

 private:
  std::unique_ptr<network::Ser2net> server_;
};

}  // namespace

std::unique_ptr<LineReach> ReachLine(const std::string &pty_path) {
  return std::make_unique<Ser2netLine>(pty_path);
}

}  // namespace quiblink::e2e
