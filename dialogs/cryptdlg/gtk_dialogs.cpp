// The password prompt as a modal GTK window. It runs its own nested main loop (gtk_dialog_run), so
// it works whether or not the host runs a GTK main loop of its own.
#include "display_text.h"
#include "frontends.h"
#include "gtk_window.h"

#include <gtk/gtk.h>

#include <cstring>
#include <memory>

namespace qb::cryptdlg {

bool AskPasswordInWindow(const PasswordRequest& request, char* buffer, DWORD size) {
  DialogWindow dialog(NewDialog(request.pin ? "PIN" : "Password"));
  GtkWidget* content = gtk_dialog_get_content_area(dialog.get());
  gtk_box_set_spacing(GTK_BOX(content), 6);

  std::string message = PasswordWarning(request) + PasswordQuestion(request);
  if (!request.database.empty()) message += "\n(" + request.database + ")";
  GtkWidget* label = gtk_label_new(message.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
  gtk_box_pack_start(GTK_BOX(content), label, FALSE, FALSE, 0);

  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(entry), FALSE);
  gtk_entry_set_input_purpose(GTK_ENTRY(entry), GTK_INPUT_PURPOSE_PASSWORD);
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_box_pack_start(GTK_BOX(content), entry, FALSE, FALSE, 0);

  gtk_widget_show_all(dialog.widget());
  gtk_widget_grab_focus(entry);
  if (gtk_dialog_run(dialog.get()) != GTK_RESPONSE_OK) return false;

  // GTK's entry buffer wipes its memory when it changes or is freed.
  const char* text = gtk_entry_get_text(GTK_ENTRY(entry));
  const std::size_t length = text != nullptr ? std::strlen(text) : 0;
  const bool fits = length > 0 && length < size;
  if (fits) std::memcpy(buffer, text, length + 1);
  gtk_entry_set_text(GTK_ENTRY(entry), "");
  return fits;
}

}  // namespace qb::cryptdlg
