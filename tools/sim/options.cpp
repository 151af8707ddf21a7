#include "sim/options.h"

#include <cmath>
#include <cstdlib>

#include "sim/faults.h"

namespace quiblink::sim {

namespace {
constexpr double kMaxIdleSeconds = 86400;
}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string> &args, std::string *error) {
  Options o;
  std::optional<std::string> family_word;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    auto value = [&](std::string *out) {
      if (i + 1 >= args.size()) {
        *error = arg + " wants a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    auto number = [&](long long lo, long long hi, long long *out) {
      std::string text;
      if (!value(&text)) return false;
      auto n = ParseNumber(text);
      if (!n || *n < lo || *n > hi) {
        *error = arg + ": not a number from " + std::to_string(lo) + " to " + std::to_string(hi);
        return false;
      }
      *out = *n;
      return true;
    };
    std::string text;
    long long n = 0;
    if (arg == "-h" || arg == "--help") {
      o.help = true;
    } else if (arg == "--family") {
      if (!value(&text)) return std::nullopt;
      if (text != "classic" && text != "graphic") {
        *error = "--family is classic or graphic";
        return std::nullopt;
      }
      o.family = text == "classic" ? Family::kClassic : Family::kGraphic;
    } else if (arg == "--model") {
      if (!number(0, 3, &n)) return std::nullopt;
      o.model = static_cast<int>(n);
    } else if (arg == "--device") {
      if (!value(&o.device)) return std::nullopt;
    } else if (arg == "--baud") {
      if (!number(300, 4000000, &n)) return std::nullopt;
      o.baud = static_cast<int>(n);
    } else if (arg == "--pacing") {
      o.pacing = true;
    } else if (arg == "--no-pacing") {
      o.pacing = false;
    } else if (arg == "--turnaround") {
      if (!number(0, 60000, &n)) return std::nullopt;
      o.turnaround_ms = static_cast<int>(n);
    } else if (arg == "--log") {
      if (!value(&o.log_path)) return std::nullopt;
    } else if (arg == "--log-full") {
      o.log_full = true;
    } else if (arg == "--image") {
      if (!value(&o.image_path)) return std::nullopt;
    } else if (arg == "--control") {
      if (!value(&o.control_path)) return std::nullopt;
    } else if (arg == "--fault") {
      if (!value(&text)) return std::nullopt;
      o.faults.push_back(text);
    } else if (arg == "--password") {
      if (!value(&o.password)) return std::nullopt;
    } else if (arg == "--type") {
      if (!number(0, 255, &n)) return std::nullopt;
      o.type = static_cast<int>(n);
    } else if (arg == "--project-name") {
      if (!value(&text)) return std::nullopt;
      if (text.size() > 240) {
        *error = "--project-name: at most 240 bytes";
        return std::nullopt;
      }
      o.project_name = text;
    } else if (arg == "--follow-baud") {
      o.follow_baud = true;
    } else if (arg == "--path-file") {
      if (!value(&o.path_file)) return std::nullopt;
    } else if (arg == "--link") {
      if (!value(&o.link_path)) return std::nullopt;
    } else if (arg == "--exit-after-idle") {
      if (!value(&text)) return std::nullopt;
      char *end = nullptr;
      o.exit_after_idle = std::strtod(text.c_str(), &end);
      // Not a number, infinity or beyond a day would never end the simulator.
      if (text.empty() || *end != '\0' || !std::isfinite(o.exit_after_idle) ||
          o.exit_after_idle <= 0 || o.exit_after_idle > kMaxIdleSeconds) {
        *error = "--exit-after-idle wants seconds above 0, at most 86400";
        return std::nullopt;
      }
    } else {
      *error = "unknown argument: " + arg;
      return std::nullopt;
    }
    if (!error->empty()) return std::nullopt;
  }
  for (const std::string &fault : o.faults) {
    if (!ParseFault(fault, o.family, error)) {
      *error = "--fault " + fault + ": " + *error;
      return std::nullopt;
    }
  }
  return o;
}

std::string HelpText() {
  return R"(usage: quiblink-sim [options]
       quiblink-sim ctl SOCKET COMMAND...

Plays one operator terminal on a serial line. Without --device it creates a
pseudo-terminal pair and prints, as the first line on stdout,
    quiblink-sim: serving <path>
Open <path> as the serial port (for instance QUIBLINK_COM1=<path>).

Terminal:
  --family classic|graphic   terminal family (default classic)
  --model N                  classic model code 0..3 (default 0)
  --password TEXT            graphic: password the check accepts (default empty)
  --type N                   graphic: terminal type byte (default 0x01)
  --project-name TEXT        graphic: project name, at most 240 bytes
  --image PATH               load content at start if present, save after
                             changes and on exit; a folder (existing, or PATH
                             ending in '/') or one file, see README.md. A
                             folder must be new, empty or marked as the
                             simulator's own (.quiblink-sim-image)

Line:
  --device PATH              serve a real serial device instead (raw, 7E1
                             classic or 8E1 graphic); pacing is off by default
  --baud N                   line speed (default 9600 classic, 38400 graphic)
  --no-pacing, --pacing      replies at once, or paced at the line speed:
                             10 bits a character classic, 11 graphic; a reply
                             starts no earlier than the request would have
                             arrived
  --turnaround MS            extra delay before every reply (default 0)
  --follow-baud              graphic: after an accepted baud-rate change
                             (0x81 9600, 0x82 19200, 0x83 38400) pace at it
  --path-file FILE           also write the serial path to FILE
  --link PATH                also make PATH a symbolic link to it; replaces
                             only a symbolic link, never a file
  --exit-after-idle SECONDS  end after that long without a request (above 0,
                             at most 86400)

Diagnostics and faults:
  --log FILE|-               log every frame both ways (- is stderr)
  --log-full                 log long frames whole, not head and tail
  --fault FAULT              arm a fault (repeatable), grammar below
  --control SOCKET           control socket (mode 0600): one command a line
                             of at most 64 KiB, answered "ok ..." or
                             "error: ..." once in effect; replaces only a
                             socket nobody listens on

FAULT:  KIND[=ARG][:TRIGGER[,TRIGGER...]]
  TRIGGER   next (default) | next=K | every=N | always | cmd=C
            cmd=C alone and every=N fire until cleared; next=K limits to K.
            K and N: 1 to 1000000000.
            C: graphic command code (0x21); classic E, F, 0, 1, read, write
  KIND (c = classic, g = graphic):
    nak                 cg  the single byte NAK (0x15) instead of the reply
    bad-checksum        cg  checksum off by one (classic: read replies)
    missing-etx         c   byte before the checksum digits is 0x04 (reads)
    wrong-start         cg  first byte 0x07 (classic) or 0xFE (graphic)
    wrong-echo          g   command code + 1
    wrong-seq           g   sequence number + 1
    wrong-flag          g   continuation flag 1 (or 2 where it was 1)
    status[=N]          g   status byte N, 0..255 (default 0x05)
    bad-length[=D]      g   length field + D, -65535..65535 (default 1),
                            checksum kept valid
    oversized[=L]       g   length field L, 0..65535 (default 2048)
    pieces[=N[/MS]]     cg  reply in N pieces, 1..65535 (default 3), MS
                            apart, 0..60000 (200)
    partial[=B]         cg  first B bytes, 0..65535 (default half), then
                            silence
    silence             cg  no reply
    drip[=MS]           cg  one byte every MS ms, 0..60000 (default 3000)
    stray[=HEX]         cg  after the reply, these bytes (default 55AA55)
    garbage[=B]         cg  B bytes of junk, 1..65535 (default the reply's
                            length)
    refuse-password     g   status 0x05 to the next password check

Control commands:
  ping | fault FAULT | clear | faults | stats | save
  classic:  peek ADDR N | poke ADDR HEX | state
            (ADDR 0..0xFFFFFF, N and HEX at most 65536 bytes)
  graphic:  group N [HEX|-] | area N [HEX|-] | os a|b 0|0x80 | groups | state
            set password TEXT | set name TEXT | set type N
            set memdata A B C | set projinfo A B | set osinfo A B [swapped]
            set computed
)";
}

}  // namespace quiblink::sim
