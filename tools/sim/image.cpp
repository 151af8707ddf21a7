#include "sim/image.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace quiblink::sim {

namespace fs = std::filesystem;

namespace {
constexpr char kMagic[] = "quiblink-sim image 1";

bool ReadFile(const fs::path &path, Bytes *out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteAtomically(const fs::path &path, const std::string &content, std::string *error) {
  fs::path temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.flush();
    if (!out) {
      *error = "cannot write " + temp.string() + ": " + std::strerror(errno);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    *error = "cannot rename " + temp.string() + ": " + ec.message();
    return false;
  }
  return true;
}

// Only names a terminal writes itself: a plain name, no folders.
bool SafeName(const std::string &name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != ".." &&
         name.find(' ') == std::string::npos && name.find('\n') == std::string::npos;
}

bool ParseSingleFile(const Bytes &raw, Image *image, std::string *error) {
  std::string text(raw.begin(), raw.end());
  size_t at = 0;
  auto line = [&](std::string *out) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    *out = text.substr(at, end - at);
    at = end + 1;
    return true;
  };
  std::string header;
  if (!line(&header) || header != kMagic) {
    *error = "not an image file";
    return false;
  }
  for (;;) {
    std::string entry;
    if (!line(&entry)) break;
    if (entry == "end") return true;
    // "<name> <size>": the size is plain decimal digits and must fit in what is left, so a
    // negative or huge size cannot wrap the bounds check.
    size_t space = entry.find(' ');
    std::string name = entry.substr(0, space);
    std::string digits = space == std::string::npos ? "" : entry.substr(space + 1);
    size_t left = text.size() - at;
    size_t size = 0;
    bool sized = !digits.empty() && digits.size() <= 12 &&
                 digits.find_first_not_of("0123456789") == std::string::npos;
    if (sized) size = static_cast<size_t>(std::stoull(digits));
    if (!sized || !SafeName(name) || size >= left || text[at + size] != '\n') {
      *error = "damaged entry: " + entry;
      return false;
    }
    (*image)[name] = Bytes(raw.begin() + at, raw.begin() + at + size);
    at += size + 1;
  }
  *error = "image file ends without \"end\"";
  return false;
}
}  // namespace

bool IsFolderImage(const std::string &path) {
  return (!path.empty() && path.back() == '/') || fs::is_directory(path);
}

bool CheckImageFolder(const std::string &path, std::string *error) {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return true;
  if (fs::exists(fs::path(path) / kImageMarker, ec)) return true;
  fs::directory_iterator entries(path, ec);
  if (ec) {
    *error = "--image " + path + ": " + ec.message();
    return false;
  }
  if (entries == fs::directory_iterator()) return true;
  *error = "--image " + path + ": the folder holds other files and no " + kImageMarker +
           " marker; give an empty or new folder";
  return false;
}

bool LoadImage(const std::string &path, Image *image, bool *exists, std::string *error) {
  image->clear();
  *exists = fs::exists(path);
  if (!*exists) return true;
  if (fs::is_directory(path)) {
    for (const auto &entry : fs::directory_iterator(path)) {
      if (!entry.is_regular_file()) continue;
      std::string name = entry.path().filename().string();
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) continue;
      if (name == kImageMarker) continue;
      if (!ReadFile(entry.path(), &(*image)[name])) {
        *error = "cannot read " + entry.path().string();
        return false;
      }
    }
    return true;
  }
  Bytes raw;
  if (!ReadFile(path, &raw)) {
    *error = "cannot read " + path;
    return false;
  }
  return ParseSingleFile(raw, image, error);
}

bool SaveImage(const std::string &path, const Image &image, std::string *error) {
  for (const auto &entry : image) {
    if (!SafeName(entry.first)) {
      *error = "bad entry name: " + entry.first;
      return false;
    }
  }
  if (IsFolderImage(path)) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
      *error = "cannot create " + path + ": " + ec.message();
      return false;
    }
    if (!CheckImageFolder(path, error)) return false;
    if (!fs::exists(fs::path(path) / kImageMarker, ec) &&
        !WriteAtomically(fs::path(path) / kImageMarker, "quiblink-sim image folder\n", error)) {
      return false;
    }
    for (const auto &[name, data] : image) {
      if (!WriteAtomically(fs::path(path) / name, std::string(data.begin(), data.end()), error)) {
        return false;
      }
    }
    for (const auto &entry : fs::directory_iterator(path)) {
      std::string name = entry.path().filename().string();
      bool ours = name == "meta.txt" || name.ends_with(".bin");
      if (entry.is_regular_file() && ours && !image.count(name)) fs::remove(entry.path(), ec);
    }
    return true;
  }
  std::string content = std::string(kMagic) + "\n";
  for (const auto &[name, data] : image) {
    content += name + " " + std::to_string(data.size()) + "\n";
    content.append(data.begin(), data.end());
    content += "\n";
  }
  content += "end\n";
  return WriteAtomically(path, content, error);
}

}  // namespace quiblink::sim
