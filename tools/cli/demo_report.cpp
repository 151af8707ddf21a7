#include "demo.h"

#include "failure.h"

namespace quiblink::cli {

Error ExpectFailure(int code, const std::function<void()> &call) {
  try {
    call();
  } catch (const Error &error) {
    if (error.code() == code) return error;
    throw CheckFailed("expected " + std::to_string(code) + " " + result_name(code) + ", got " +
                      DescribeFailure(error));
  }
  throw CheckFailed(std::string("expected ") + std::to_string(code) + " " + result_name(code) +
                    ", but the call succeeded");
}

std::string ExpectSame(const Bytes &got, const Bytes &want) {
  if (got == want) return "identical, " + std::to_string(got.size()) + " bytes";
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  throw CheckFailed("differ: " + std::to_string(got.size()) + " bytes against " +
                    std::to_string(want.size()) + ", first difference at offset " +
                    std::to_string(at));
}

void DemoReport::Section(const std::string &title) {
  std::fprintf(out_, "\n%s\n", title.c_str());
  std::fflush(out_);
  section_ok_ = true;
}

bool DemoReport::Step(const std::string &name, const std::function<std::string()> &body) {
  if (!section_ok_) {
    ++skipped_;
    Line("skip", name, "not run: an earlier step failed");
    return false;
  }
  try {
    std::string detail = body();
    ++held_;
    Line("ok", name, detail);
    return true;
  } catch (const Error &error) {
    Line("FAIL", name, DescribeFailure(error));
  } catch (const std::exception &error) {
    Line("FAIL", name, error.what());
  }
  ++failed_;
  section_ok_ = false;
  return false;
}

bool DemoReport::Summary() {
  bool all = failed_ == 0 && skipped_ == 0;
  std::fprintf(out_, "\n%s: %d of %d checks held", all ? "PASS" : "FAIL", held_,
               held_ + failed_ + skipped_);
  if (failed_ != 0) std::fprintf(out_, ", %d failed", failed_);
  if (skipped_ != 0) std::fprintf(out_, ", %d not run", skipped_);
  std::fprintf(out_, ".\n");
  std::fflush(out_);
  return all;
}

void DemoReport::Line(const char *mark, const std::string &name, const std::string &detail) {
  std::fprintf(out_, "  %-4s  %-46s %s\n", mark, name.c_str(), detail.c_str());
  std::fflush(out_);
}

}  // namespace quiblink::cli
