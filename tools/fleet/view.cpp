#include "view.h"

#include "store.h"

namespace quiblink::fleet {

FleetView GatherView(Store &store, const Inventory &inventory, bool history, int runs) {
  Catalogue &catalogue = store.catalogue();
  FleetView view;
  view.store = store.folder();
  view.generated = UtcNow();
  for (const TerminalSpec &spec : inventory.terminals) {
    TerminalView row;
    row.spec = spec;
    row.latest = catalogue.Latest(spec.name);
    row.released = catalogue.Released(spec.name);
    row.last_backup = catalogue.LastResult(spec.name, "backup,check");
    row.last_check = catalogue.LastResult(spec.name, "check,quick-check");
    if (!row.latest) {
      row.matches = "-";
    } else if (!row.released) {
      row.matches = "no release";
    } else {
      row.matches = row.latest->content_hash == row.released->content_hash ? "yes" : "no";
    }
    if (history) {
      row.versions = catalogue.Versions(spec.name);
      row.releases = catalogue.Releases(spec.name);
    }
    view.terminals.push_back(std::move(row));
  }
  view.runs = catalogue.Runs(runs);
  return view;
}

}  // namespace quiblink::fleet
