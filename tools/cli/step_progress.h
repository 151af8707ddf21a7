// The steps of a backup or restore shown as the commands of one terminal show them: one line
// per step ("restore: group 2: 1300 bytes written") and a progress bar per transfer.
#pragma once

#include <memory>
#include <string>

#include "backup/terminal_steps.h"
#include "progress.h"

namespace quiblink::cli {

class StepProgress {
 public:
  explicit StepProgress(bool enabled) : enabled_(enabled) {}
  // The lines start with "command: ".
  backup::Steps Steps(const std::string &command);

 private:
  bool enabled_;
  std::string label_;
  std::unique_ptr<ProgressBar> bar_;
};

}  // namespace quiblink::cli
