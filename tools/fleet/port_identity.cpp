#include "port_identity.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace quiblink::fleet {
namespace {

std::string Lower(std::string text) {
  for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "rfc2217://Host:4001/" -> "host:4001"; empty when it is no host:port.
std::string HostAndPort(const std::string &url) {
  const size_t start = url.find("://") + 3;
  std::string rest = url.substr(start);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) return "";
  for (size_t i = colon + 1; i < rest.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(rest[i]))) return "";
  }
  if (rest.find('/') != std::string::npos) return "";
  return Lower(rest);
}

bool IsUrl(const std::string &port) {
  const std::string lower = Lower(port);
  return lower.starts_with("rfc2217://") || lower.starts_with("tcp://");
}

}  // namespace

int ComNumber(const std::string &port) {
  std::string name = Lower(port);
  if (name.starts_with("\\\\.\\")) name.erase(0, 4);
  if (!name.starts_with("com") || name.size() < 4 || name.size() > 5) return 0;
  int number = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number >= 1 && number <= 10 ? number : 0;
}

PortKind KindOfPort(const std::string &port) {
  if (ComNumber(port) != 0) return PortKind::kCom;
  if (IsUrl(port)) return HostAndPort(port).empty() ? PortKind::kInvalid : PortKind::kNetwork;
  if (port.starts_with("/") && port.size() > 1) return PortKind::kDevice;
  return PortKind::kInvalid;
}

std::string PortIdentity(const std::string &port) {
  std::string device = port;
  if (const int number = ComNumber(port); number != 0) {
    const char *mapped = std::getenv(("QUIBLINK_COM" + std::to_string(number)).c_str());
    device = mapped != nullptr ? mapped : "/dev/ttyS" + std::to_string(number - 1);
  }
  if (IsUrl(device)) return "net " + HostAndPort(device);
  std::error_code error;
  std::filesystem::path resolved = std::filesystem::canonical(device, error);
  if (error) resolved = std::filesystem::path(device).lexically_normal();
  // "/dev/ttyUSB0/" and "/dev/ttyUSB0" are one device even when it is not there to resolve.
  if (!resolved.has_filename() && resolved.has_relative_path()) resolved = resolved.parent_path();
  return resolved.string();
}

}  // namespace quiblink::fleet
