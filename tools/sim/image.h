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

// The file that marks a folder as the simulator's own image.
constexpr char kImageMarker[] = ".quiblink-sim-image";

// A folder image is written only into a folder that does not exist yet, is empty, or holds the
// marker; false with *error for any other folder. A single-file image needs no check here: it
// is replaced only after it has been read as an image.
bool CheckImageFolder(const std::string &path, std::string *error);

// Fills *image; false with *error when the image exists but cannot be read. A missing image is
// no error: *exists is false and *image empty.
bool LoadImage(const std::string &path, Image *image, bool *exists, std::string *error);

// Writes through a temporary and renames, so a reader never sees half an image. A folder image
// gets the marker and loses the entry files that the new content no longer has.
bool SaveImage(const std::string &path, const Image &image, std::string *error);

}  // namespace quiblink::sim
