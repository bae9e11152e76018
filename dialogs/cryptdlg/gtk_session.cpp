#include "frontends.h"

#include <gtk/gtk.h>

#include <cstdlib>

namespace qb::cryptdlg {
namespace {

bool Named(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

bool InitialiseGtk() {
  // GTK would otherwise call setlocale(LC_ALL, "") on the host process, changing how every
  // other library in it formats and parses numbers (a decimal comma in many locales).
  gtk_disable_setlocale();
  return gtk_init_check(nullptr, nullptr) != FALSE;
}

}  // namespace

bool GtkDisplayAvailable() {
  // Without a display named, GTK is not even tried: a terminal session may still have one.
  if (!Named("DISPLAY") && !Named("WAYLAND_DISPLAY")) return false;
  static const bool initialised = InitialiseGtk();
  return initialised;
}

}  // namespace qb::cryptdlg
