#include "gtk_window.h"

namespace qb::cryptdlg {
namespace {

constexpr const char* kDefaultTitle = "Select a certificate";

}  // namespace

DialogWindow::~DialogWindow() {
  gtk_widget_destroy(dialog_);
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  gdk_display_flush(gdk_display_get_default());
}

GtkWidget* NewDialog(const std::string& title, const char* cancelLabel, const char* okLabel) {
  GtkWidget* dialog = gtk_dialog_new_with_buttons(title.empty() ? kDefaultTitle : title.c_str(), nullptr,
                                                  GTK_DIALOG_MODAL, cancelLabel, GTK_RESPONSE_CANCEL, okLabel,
                                                  GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_container_set_border_width(GTK_CONTAINER(dialog), 6);
  return dialog;
}

}  // namespace qb::cryptdlg
