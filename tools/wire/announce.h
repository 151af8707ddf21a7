// How a tool that serves a new serial line tells who waits for it where the line is.
#pragma once

#include <cstdio>
#include <string>

namespace quiblink::wire {

// Writes path to path_file (when one is named), then prints "<tool>: serving <path>" on out.
// Scripts start on either, so everything else must be in place before this is called. Returns
// an empty text, or why path_file could not be written (then nothing is printed).
std::string AnnouncePath(const std::string &path, const std::string &path_file, const char *tool,
                         std::FILE *out);

}  // namespace quiblink::wire
