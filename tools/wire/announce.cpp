#include "wire/announce.h"

#include <cerrno>
#include <cstring>

namespace quiblink::wire {

std::string AnnouncePath(const std::string &path, const std::string &path_file, const char *tool,
                         std::FILE *out) {
  if (!path_file.empty()) {
    std::FILE *f = std::fopen(path_file.c_str(), "w");
    if (!f) return std::strerror(errno);
    const bool written = std::fprintf(f, "%s\n", path.c_str()) > 0;
    if (std::fclose(f) != 0 || !written) return std::strerror(errno);
  }
  std::fprintf(out, "%s: serving %s\n", tool, path.c_str());
  std::fflush(out);
  return {};
}

}  // namespace quiblink::wire
