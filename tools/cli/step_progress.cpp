#include "step_progress.h"

#include "command_support.h"

namespace quiblink::cli {

backup::Steps StepProgress::Steps(const std::string &command) {
  backup::Steps steps;
  steps.log = [this, command](const std::string &line) {
    if (bar_) bar_->Finish();
    bar_.reset();
    Report(nullptr, command + ": " + line);
  };
  steps.progress = [this](const std::string &label, uint64_t done, uint64_t total) {
    if (!bar_ || label != label_) {
      if (bar_) bar_->Finish();
      bar_ = std::make_unique<ProgressBar>("  " + label, total, enabled_);
      label_ = label;
    }
    bar_->Update(done, total);
  };
  return steps;
}

}  // namespace quiblink::cli
