// The pieces every GTK dialog of the module is made of: a modal dialog with Cancel and OK, and
// its destruction, which must really take the window off the screen before the call returns.
#pragma once

#include <gtk/gtk.h>

#include <string>

namespace qb::cryptdlg {

// Destroys the dialog and lets GTK process the resulting events, so the window is really gone
// from the screen when the call returns, even though nobody else may run the main loop.
class DialogWindow {
 public:
  explicit DialogWindow(GtkWidget* dialog) : dialog_(dialog) {}
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;
  ~DialogWindow();
  GtkDialog* get() const { return GTK_DIALOG(dialog_); }
  GtkWidget* widget() const { return dialog_; }

 private:
  GtkWidget* dialog_;
};

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

// A modal dialog titled `title` (a default when empty) with Cancel and OK, OK the default.
// The labels are UTF-8 with GTK's mnemonic underscores.
GtkWidget* NewDialog(const std::string& title, const char* cancelLabel = "_Cancel", const char* okLabel = "_OK");

}  // namespace qb::cryptdlg
