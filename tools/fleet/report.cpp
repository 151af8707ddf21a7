#include "report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

#include "wire/hex.h"

namespace quiblink::fleet {
namespace {

constexpr const char *kStyle = R"(
body{font:14px/1.4 sans-serif;margin:24px;color:#1d2430;background:#fff}
h1{font-size:22px;margin:0 0 4px}h2{font-size:17px;margin:28px 0 8px}
.meta{color:#5b6472;margin-bottom:16px}
table{border-collapse:collapse;width:100%}
th,td{text-align:left;padding:5px 8px;border-bottom:1px solid #dde2ea;vertical-align:top}
th{background:#f1f4f8;font-weight:600}
.state{display:inline-block;padding:1px 8px;border-radius:10px;font-weight:600}
.same{background:#dff3e4;color:#17672f}
.changed{background:#d62828;color:#fff}
.unreachable{background:#f6a623;color:#3a2500}
.no-release,.not-checked{background:#e6e9ee;color:#3d4654}
tr.drift td{background:#fdecec}
.counts span{margin-right:14px}
.detail{color:#3d4654;font-size:13px}
svg text{font:11px sans-serif;fill:#3d4654}
)";

int64_t Seconds(const std::string &utc) {
  std::tm t{};
  if (std::sscanf(utc.c_str(), "%d-%d-%dT%d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min, &t.tm_sec) != 6) {
    return 0;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  return static_cast<int64_t>(timegm(&t));
}

std::string StateBadge(const std::string &state) {
  std::string css = state;
  std::replace(css.begin(), css.end(), ' ', '-');
  return "<span class=\"state " + Html(css) + "\">" + Html(state) + "</span>";
}

std::string FleetTable(const FleetView &view) {
  std::map<std::string, int> counts;
  std::string rows;
  for (const TerminalView &t : view.terminals) {
    const std::string state = t.State();
    ++counts[state];
    const bool drift = state == "changed" || state == "unreachable";
    rows +=
        std::string("<tr") + (drift ? " class=\"drift\"" : "") + "><td><b>" + Html(t.spec.name) +
        "</b></td><td>" + Html(t.spec.port) + "</td><td>" + backup::FamilyName(t.spec.family) +
        "</td><td>" + StateBadge(state) + "<div class=\"detail\">" +
        Html(t.last_check ? t.last_check->detail + " (" + t.last_check->at + ")" : "") +
        "</div></td><td>" +
        Html(t.latest ? "v" + std::to_string(t.latest->number) + " " + t.latest->created : "none") +
        (t.last_backup && t.last_backup->state != "ok" && t.last_backup->version == std::nullopt
             ? "<div class=\"detail\">last try: " + Html(t.last_backup->detail) + "</div>"
             : "") +
        "</td><td>" + Html(t.released ? "v" + std::to_string(t.released->number) : "none") +
        "</td><td>" + Html(t.matches) + "</td></tr>\n";
  }
  std::string summary = "<p class=\"counts\">";
  for (const auto &[state, count] : counts) {
    summary += "<span>" + StateBadge(state) + " " + std::to_string(count) + "</span>";
  }
  return summary +
         "</p>\n<table><tr><th>Terminal</th><th>Port</th><th>Family</th><th>State</th>"
         "<th>Last version</th><th>Released</th><th>Last version is the release</th></tr>\n" +
         rows + "</table>\n";
}

std::string Timeline(const TerminalView &t, int64_t from, int64_t to) {
  constexpr int kWidth = 720, kLeft = 10, kRight = 40;
  const double span = to > from ? static_cast<double>(to - from) : 1;
  std::string svg = "<svg width=\"" + std::to_string(kWidth + kLeft + kRight) +
                    "\" height=\"34\" role=\"img\"><line x1=\"" + std::to_string(kLeft) +
                    "\" y1=\"14\" x2=\"" + std::to_string(kLeft + kWidth) +
                    "\" y2=\"14\" stroke=\"#b8c0cc\"/>";
  int released = t.released ? t.released->number : 0;
  for (const Version &v : t.versions) {
    const int x = kLeft + static_cast<int>((Seconds(v.created) - from) / span * kWidth);
    const bool is_release = v.number == released;
    svg += "<circle cx=\"" + std::to_string(x) + "\" cy=\"14\" r=\"" + (is_release ? "7" : "5") +
           "\" fill=\"" + (is_release ? "#17672f" : "#4a78c2") + "\"><title>v" +
           std::to_string(v.number) + " " + Html(v.created) + " " + std::to_string(v.bytes) +
           " bytes</title></circle><text x=\"" + std::to_string(x - 6) + "\" y=\"32\">v" +
           std::to_string(v.number) + "</text>";
  }
  return svg + "</svg>";
}

std::string Timelines(const FleetView &view) {
  int64_t from = Seconds(view.generated), to = from;
  for (const TerminalView &t : view.terminals) {
    for (const Version &v : t.versions) from = std::min(from, Seconds(v.created));
  }
  std::string html = "<p class=\"meta\">From the first version to " + Html(view.generated) +
                     "; a large green dot is the released version.</p><table>\n";
  for (const TerminalView &t : view.terminals) {
    html += "<tr><td><b>" + Html(t.spec.name) + "</b><div class=\"detail\">" +
            std::to_string(t.versions.size()) + " versions, " + std::to_string(t.releases.size()) +
            " releases</div></td><td>" + Timeline(t, from, to) + "</td></tr>\n";
  }
  return html + "</table>\n";
}

std::string RunsTable(const FleetView &view) {
  std::string html =
      "<table><tr><th>Run</th><th>Command</th><th>Started</th><th>Ended</th>"
      "<th>Status</th><th>Summary</th></tr>\n";
  for (const Run &run : view.runs) {
    html += "<tr><td>" + std::to_string(run.id) + "</td><td>" + Html(run.command) + "</td><td>" +
            Html(run.started) + "</td><td>" +
            Html(run.ended.empty() ? "did not finish" : run.ended) + "</td><td>" +
            (run.status ? std::to_string(*run.status) : "-") + "</td><td>" + Html(run.summary) +
            "</td></tr>\n";
  }
  return html + "</table>\n";
}

}  // namespace

std::string Html(const std::string &text) {
  std::string out;
  for (char c : wire::Printable(text)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string RenderReport(const FleetView &view) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<title>Fleet report</title><style>" +
         std::string(kStyle) +
         "</style></head><body>\n"
         "<h1>Fleet report</h1><div class=\"meta\">Store " +
         Html(view.store) + ", made " + Html(view.generated) + ", " +
         std::to_string(view.terminals.size()) +
         " terminals</div>\n"
         "<h2>Terminals</h2>\n" +
         FleetTable(view) + "<h2>Versions</h2>\n" + Timelines(view) + "<h2>Latest runs</h2>\n" +
         RunsTable(view) + "</body></html>\n";
}

}  // namespace quiblink::fleet
