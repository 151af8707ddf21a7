// Terminal images on disk: a folder with one file per entry, or one file that holds them all.
//
// Single-file form: the line "quiblink-sim image 1", then per entry a line "<name> <size>"
// followed by exactly <size> raw bytes and a newline, and finally the line "end".
#pragma once

#include <string>

#include "sim/terminal.h"

namespace quiblink::sim {

// A path that is an existing folder or ends in '/' is a folder image; anything else a file.
bool IsFolderImage(const std::string &path);

// Fills *image; false with *error when the image exists but cannot be read. A missing image is
// no error: *exists is false and *image empty.
bool LoadImage(const std::string &path, Image *image, bool *exists, std::string *error);

// Writes through a temporary and renames, so a reader never sees half an image. A folder image
// loses the entry files that the new content no longer has.
bool SaveImage(const std::string &path, const Image &image, std::string *error);

}  // namespace quiblink::sim
