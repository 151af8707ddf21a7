#include "sim/options.h"

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>

#include <CLI/CLI.hpp>

#include "sim/faults.h"

namespace quiblink::sim {

namespace {

constexpr double kMaxIdleSeconds = 86400;
constexpr size_t kMaxProjectName = 240;

// Usage first, then the option groups, then the fault grammar and the control commands; an
// option shows its value's name only, the range and default are in its own text.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { column_width(29); }
  std::string make_help(const CLI::App *app, std::string, CLI::AppFormatMode) const override {
    std::string text = make_usage(app, "") + "\n" + app->get_description() + "\n";
    // Groups in the order of their first option.
    std::vector<std::string> groups;
    for (const CLI::Option *option : app->get_options()) {
      if (std::find(groups.begin(), groups.end(), option->get_group()) == groups.end()) {
        groups.push_back(option->get_group());
      }
    }
    for (const std::string &group : groups) {
      text += "\n" + group + ":\n";
      for (const CLI::Option *option : app->get_options()) {
        if (option->get_group() == group) text += make_option(option, false);
      }
    }
    return text + "\n" + app->get_footer();
  }
  std::string make_usage(const CLI::App *, std::string) const override {
    return "usage: quiblink-sim [options]\n"
           "       quiblink-sim ctl SOCKET COMMAND...\n";
  }
  std::string make_option_name(const CLI::Option *option, bool) const override {
    // "--pacing, --no-pacing" and the like, without the negation marks.
    std::string names;
    for (const std::string &name : option->get_lnames()) {
      names += (names.empty() ? "--" : ", --") + name;
    }
    for (const std::string &name : option->get_snames()) names = "-" + name + ", " + names;
    for (const auto &flag : option->get_fnames()) {
      if (std::find(option->get_lnames().begin(), option->get_lnames().end(), flag) ==
          option->get_lnames().end()) {
        names += ", --" + flag;
      }
    }
    return names;
  }
  std::string make_option_opts(const CLI::Option *option) const override {
    return option->get_type_size() == 0 ? "" : " " + option->get_type_name();
  }
};

constexpr const char *kDescription =
    R"(Plays one operator terminal on a serial line. Without --device it creates a
pseudo-terminal pair and prints, as the first line on stdout,
    quiblink-sim: serving <path>
Open <path> as the serial port (for instance QUIBLINK_COM1=<path>).)";

constexpr const char *kFooter = R"(FAULT:  KIND[=ARG][:TRIGGER[,TRIGGER...]]
  TRIGGER   next (default) | next=K | every=N | always | cmd=C
            cmd=C alone and every=N fire until cleared; next=K limits to K.
            K and N: 1 to 1000000000.
            C: graphic command code (0x21); classic E, F, 0, 1, read, write
  KIND (c = classic, g = graphic):
)";

constexpr const char *kControlHelp = R"(
Control commands:
  ping | fault FAULT | clear | faults | stats | save
  classic:  peek ADDR N | poke ADDR HEX | state
            (ADDR 0..0xFFFFFF, N and HEX at most 65536 bytes)
  graphic:  group N [HEX|-] | area N [HEX|-] | os a|b 0|0x80 | groups | state
            set password TEXT | set name TEXT | set type N
            set memdata A B C | set projinfo A B | set osinfo A B [swapped]
            set computed
)";

// A text option whose value is checked, and taken, by a function that throws the error text.
CLI::Option *AddChecked(CLI::App &app, const std::string &name, const std::string &type,
                        std::function<void(const std::string &)> take, const std::string &help) {
  CLI::Option *option = app.add_option_function<std::string>(name, std::move(take), help);
  option->type_name(type);
  return option;
}

// A number option, decimal or 0x-hexadecimal, within [low, high].
template <class T>
CLI::Option *AddNumber(CLI::App &app, const std::string &name, T *target, long long low,
                       long long high, const std::string &help) {
  return AddChecked(
      app, name, "N",
      [=](const std::string &text) {
        auto n = ParseNumber(text);
        if (!n || *n < low || *n > high) {
          throw CLI::ValidationError(name + ": not a number from " + std::to_string(low) + " to " +
                                     std::to_string(high));
        }
        *target = static_cast<T>(*n);
      },
      help);
}

// Every option of the simulator, with its text for --help; parsing fills *o.
void DefineOptions(CLI::App &app, Options *o, bool *pacing) {
  app.formatter(std::make_shared<HelpFormatter>());
  app.description(kDescription);
  app.footer(std::string(kFooter) + FaultKindsHelp() + kControlHelp);
  // A repeated option counts once, the last one.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  // Left-over arguments are refused by ParseOptions in its own words.
  app.allow_extras();
  app.set_help_flag();

  app.option_defaults()->group("Terminal");
  AddChecked(
      app, "--family", "classic|graphic",
      [o](const std::string &text) {
        if (text != "classic" && text != "graphic") {
          throw CLI::ValidationError("--family is classic or graphic");
        }
        o->family = text == "classic" ? Family::kClassic : Family::kGraphic;
      },
      "terminal family (default classic)");
  AddNumber(app, "--model", &o->model, 0, 3, "classic model code 0..3 (default 0)");
  app.add_option("--password", o->password, "graphic: password the check accepts (default empty)")
      ->type_name("TEXT");
  AddNumber(app, "--type", &o->type, 0, 255, "graphic: terminal type byte (default 0x01)");
  AddChecked(
      app, "--project-name", "TEXT",
      [o](const std::string &text) {
        if (text.size() > kMaxProjectName) {
          throw CLI::ValidationError("--project-name: at most 240 bytes");
        }
        o->project_name = text;
      },
      "graphic: project name, at most 240 bytes");
  AddNumber(app, "--name-group", &o->name_group, 0, 0xFFFF,
            "graphic: the project name comes with the project\n"
            "data: the first line of this group (at most 240\n"
            "bytes) while it is there (default 0: kept apart,\n"
            "cleared by a delete of the user data)")
      ->type_name("GROUP");
  app.add_option("--image", o->image_path,
                 "load content at start if present, save after\n"
                 "changes and on exit; a folder (existing, or PATH\n"
                 "ending in '/') or one file, see README.md. A\n"
                 "folder must be new, empty or marked as the\n"
                 "simulator's own (.quiblink-sim-image)")
      ->type_name("PATH");

  app.option_defaults()->group("Line");
  app.add_option("--device", o->device,
                 "serve a real serial device instead (raw, 7E1\n"
                 "classic or 8E1 graphic); pacing is off by default")
      ->type_name("PATH");
  AddNumber(app, "--baud", &o->baud, 300, 4000000,
            "line speed (default 9600 classic, 38400 graphic)");
  app.add_flag("!--no-pacing,--pacing", *pacing,
               "replies at once, or paced at the line speed:\n"
               "10 bits a character classic, 11 graphic; a reply\n"
               "starts no earlier than the request would have\n"
               "arrived");
  AddNumber(app, "--turnaround", &o->turnaround_ms, 0, 60000,
            "extra delay before every reply (default 0)")
      ->type_name("MS");
  app.add_flag("--follow-baud", o->follow_baud,
               "graphic: after an accepted baud-rate change\n"
               "(0x81 9600, 0x82 19200, 0x83 38400) pace at it");
  app.add_option("--path-file", o->path_file, "also write the serial path to FILE")
      ->type_name("FILE");
  app.add_option("--link", o->link_path,
                 "also make PATH a symbolic link to it; replaces\n"
                 "only a symbolic link, never a file")
      ->type_name("PATH");
  AddChecked(
      app, "--exit-after-idle", "SECONDS",
      [o](const std::string &text) {
        char *end = nullptr;
        double seconds = std::strtod(text.c_str(), &end);
        // Not a number, infinity or beyond a day would never end the simulator.
        if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
            seconds > kMaxIdleSeconds) {
          throw CLI::ValidationError("--exit-after-idle wants seconds above 0, at most 86400");
        }
        o->exit_after_idle = seconds;
      },
      "end after that long without a request (above 0,\n"
      "at most 86400)");

  app.option_defaults()->group("Diagnostics and faults");
  app.add_option("--log", o->log_path, "log every frame both ways (- is stderr)")
      ->type_name("FILE|-");
  app.add_flag("--log-full", o->log_full, "log long frames whole, not head and tail");
  app.add_option("--fault", o->faults, "arm a fault (repeatable), grammar below")
      ->type_name("FAULT")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  app.add_option("--control", o->control_path,
                 "control socket (mode 0600): one command a line\n"
                 "of at most 64 KiB, answered \"ok ...\" or\n"
                 "\"error: ...\" once in effect; replaces only a\n"
                 "socket nobody listens on")
      ->type_name("SOCKET");
  app.add_flag("-h,--help", o->help, "show this text");
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string> &args, std::string *error) {
  Options o;
  bool pacing = false;
  CLI::App app("", "quiblink-sim");
  DefineOptions(app, &o, &pacing);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch &e) {
    // The only mismatch of these options: a value missing at the end.
    std::string text = e.what();
    *error = text.substr(0, text.find(':')) + " wants a value";
    return std::nullopt;
  } catch (const CLI::ParseError &e) {
    *error = e.what();
    return std::nullopt;
  }
  if (!app.remaining().empty()) {
    *error = "unknown argument: " + app.remaining().front();
    return std::nullopt;
  }
  if (app.count("--pacing") + app.count("--no-pacing") > 0) o.pacing = pacing;
  for (const std::string &fault : o.faults) {
    if (!ParseFault(fault, o.family, error)) {
      *error = "--fault " + fault + ": " + *error;
      return std::nullopt;
    }
  }
  return o;
}

std::string HelpText() {
  Options o;
  bool pacing = false;
  CLI::App app("", "quiblink-sim");
  DefineOptions(app, &o, &pacing);
  return app.help();
}

}  // namespace quiblink::sim
