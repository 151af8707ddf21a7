// The telnet and com port codec and the device URL parser under arbitrary input: whatever a
// server sends, the decoder stays within its buffers, every negotiation gets at most one
// well-formed answer, every subnegotiation parses or is refused; data encoded for the wire
// decodes to itself; a URL that parses names a port 1..65535 and a host that fits.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/net/telnet.h"
#include "platform/net/url.h"

namespace t = plat::telnet;

namespace {

void Check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  t::Decoder d;
  t::DecoderReset(&d);
  t::Options options;
  t::OptionsReset(&options);
  uint8_t opening[t::kOpeningLength];
  if (size > 0 && (data[0] & 1)) t::BuildOpening(&options, opening);
  size_t data_bytes = 0;
  for (size_t i = 0; i < size; ++i) {
    const t::Event e = t::DecodeByte(&d, data[i]);
    Check(d.length <= t::kMaxSubnegotiation);
    if (e.kind == t::kEventData) ++data_bytes;
    if (e.kind == t::kEventNegotiation) {
      uint8_t answer[3] = {0, 0, 0};
      const size_t n = t::AnswerNegotiation(&options, e.verb, e.option, answer);
      Check(n == 0 || (n == 3 && answer[0] == t::kIac && answer[1] >= t::kWill &&
                       answer[1] <= t::kDont && answer[2] == e.option));
      // Asked again at once, the same request gets no answer, or the same refusal: never a
      // consent, which would start a loop.
      const size_t again = t::AnswerNegotiation(&options, e.verb, e.option, answer);
      Check(again == 0 || answer[1] == t::kWont || answer[1] == t::kDont);
    }
    if (e.kind == t::kEventSubnegotiation) {
      t::ComPortReply reply;
      if (t::ParseComPortReply(d.sub, d.length, &reply)) Check(d.sub[0] == t::kOptComPort);
    }
  }
  Check(data_bytes <= size);

  // Encoded data decodes to itself, into any room.
  std::vector<uint8_t> wire(2 * size + 2);
  size_t produced = 0;
  Check(t::EncodeData(data, size, wire.data(), wire.size(), &produced) == size);
  t::DecoderReset(&d);
  std::vector<uint8_t> back;
  for (size_t i = 0; i < produced; ++i) {
    const t::Event e = t::DecodeByte(&d, wire[i]);
    Check(e.kind == t::kEventData || e.kind == t::kEventNone);
    if (e.kind == t::kEventData) back.push_back(e.data);
  }
  Check(back.size() == size && (size == 0 || memcmp(back.data(), data, size) == 0));

  const std::string name(reinterpret_cast<const char *>(data), size);
  plat::net::Address address;
  if (plat::net::ParseUrl(name.c_str(), &address)) {
    Check(address.scheme != plat::net::kNotUrl);
    Check(address.host[0] != '\0' && strlen(address.host) < sizeof address.host);
    const long port = strtol(address.port, nullptr, 10);
    Check(port >= 1 && port <= 65535);
  }
  return 0;
}
