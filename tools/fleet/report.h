// `fleet report --html`: one self-contained page (styles inline, no script, no file or address
// outside it) that a plant PC without a network can open: the fleet table with each terminal's
// state, where drift stands out; each terminal's versions on a timeline with its releases; and
// the latest runs.
#pragma once

#include <string>

#include "view.h"

namespace quiblink::fleet {

std::string RenderReport(const FleetView &view);

// Text made safe for HTML: & < > " ' escaped, bytes that are not UTF-8 text shown as \xNN.
std::string Html(const std::string &text);

}  // namespace quiblink::fleet
