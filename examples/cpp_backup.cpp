// Backs up a graphic terminal with the C++ layer: the channel closes itself, failures are
// exceptions that carry the result code, its meaning and the terminal status.
//
//   cpp_backup PORT BAUD FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <vector>

#include <quiblink/quiblink.hpp>

int main(int argc, char **argv) {
  if (argc != 4) {
    std::cerr << "usage: " << argv[0] << " PORT BAUD FILE\n";
    return 2;
  }
  try {
    auto channel = quiblink::Channel::open_graphic(static_cast<uint16_t>(std::atoi(argv[1])),
                                                   static_cast<uint16_t>(std::atoi(argv[2])));
    quiblink::ProjectInfo project = channel.project_info();
    std::vector<uint8_t> data(4 * 1024 * 1024);
    size_t size = channel.read_all(data, [](uint32_t done, uint32_t) {
      std::fprintf(stderr, "\r%lu bytes", static_cast<unsigned long>(done));
    });
    std::cerr << "\n";
    std::ofstream(argv[3], std::ios::binary)
        .write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(size));
    std::cout << "project \"" << project.name << "\": " << size << " bytes backed up\n";
    channel.close();
  } catch (const quiblink::Error &error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  return 0;
}
