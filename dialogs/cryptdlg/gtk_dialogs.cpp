// The dialogs as modal GTK windows. Each runs its own nested main loop (gtk_dialog_run), so it
// works whether or not the host runs a GTK main loop of its own.
#include "display_text.h"
#include "frontends.h"

#include <gtk/gtk.h>

#include <cstring>
#include <memory>

namespace qb::cryptdlg {
namespace {

constexpr const char* kDefaultTitle = "Select a certificate";

// Destroys the dialog and lets GTK process the resulting events, so the window is really gone
// from the screen when the call returns, even though nobody else may run the main loop.
class DialogWindow {
 public:
  explicit DialogWindow(GtkWidget* dialog) : dialog_(dialog) {}
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;
  ~DialogWindow() {
    gtk_widget_destroy(dialog_);
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    gdk_display_flush(gdk_display_get_default());
  }
  GtkDialog* get() const { return GTK_DIALOG(dialog_); }
  GtkWidget* widget() const { return dialog_; }

 private:
  GtkWidget* dialog_;
};

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

GtkWidget* NewDialog(const std::string& title) {
  GtkWidget* dialog = gtk_dialog_new_with_buttons(title.empty() ? kDefaultTitle : title.c_str(), nullptr,
                                                  GTK_DIALOG_MODAL, "_Cancel", GTK_RESPONSE_CANCEL, "_OK",
                                                  GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_container_set_border_width(GTK_CONTAINER(dialog), 6);
  return dialog;
}

enum Column { kSubject, kIssuer, kSerial, kNotBefore, kNotAfter, kColumnCount };

void AddColumn(GtkTreeView* view, const char* heading, int column) {
  GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
  GtkTreeViewColumn* viewColumn = gtk_tree_view_column_new_with_attributes(heading, renderer, "text", column, nullptr);
  gtk_tree_view_column_set_resizable(viewColumn, TRUE);
  gtk_tree_view_append_column(view, viewColumn);
}

void OnRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer dialog) {
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
}

void OnSelectionChanged(GtkTreeSelection* selection, gpointer dialog) {
  const gboolean any = gtk_tree_selection_get_selected(selection, nullptr, nullptr);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(dialog), GTK_RESPONSE_OK, any);
}

std::optional<std::size_t> SelectedRow(GtkTreeSelection* selection) {
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  if (!gtk_tree_selection_get_selected(selection, &model, &iter)) return std::nullopt;
  std::unique_ptr<GtkTreePath, decltype(&gtk_tree_path_free)> path(gtk_tree_model_get_path(model, &iter),
                                                                   &gtk_tree_path_free);
  if (!path || gtk_tree_path_get_depth(path.get()) < 1) return std::nullopt;
  const int index = gtk_tree_path_get_indices(path.get())[0];
  if (index < 0) return std::nullopt;
  return static_cast<std::size_t>(index);
}

}  // namespace

std::optional<std::size_t> ChooseInWindow(const std::string& title, const std::vector<CertificateRow>& rows,
                                          std::size_t initialRow) {
  DialogWindow dialog(NewDialog(title));

  std::unique_ptr<GtkListStore, ObjectUnref> store(
      gtk_list_store_new(kColumnCount, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING));
  for (const CertificateRow& row : rows) {
    GtkTreeIter iter;
    gtk_list_store_append(store.get(), &iter);
    gtk_list_store_set(store.get(), &iter, kSubject, row.subject.c_str(), kIssuer, row.issuer.c_str(), kSerial,
                       row.serial.c_str(), kNotBefore, row.notBefore.c_str(), kNotAfter, row.notAfter.c_str(), -1);
  }

  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store.get()));
  GtkTreeView* treeView = GTK_TREE_VIEW(view);
  AddColumn(treeView, "Issued to", kSubject);
  AddColumn(treeView, "Issued by", kIssuer);
  AddColumn(treeView, "Serial number", kSerial);
  AddColumn(treeView, "Valid from", kNotBefore);
  AddColumn(treeView, "Valid to", kNotAfter);
  gtk_tree_view_set_search_column(treeView, kSubject);

  GtkTreeSelection* selection = gtk_tree_view_get_selection(treeView);
  gtk_tree_selection_set_mode(selection, GTK_SELECTION_BROWSE);
  g_signal_connect(selection, "changed", G_CALLBACK(OnSelectionChanged), dialog.widget());
  g_signal_connect(view, "row-activated", G_CALLBACK(OnRowActivated), dialog.widget());
  gtk_dialog_set_response_sensitive(dialog.get(), GTK_RESPONSE_OK, FALSE);

  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  // As wide as the texts need, within reason; long names scroll instead of growing the window.
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroller), TRUE);
  gtk_scrolled_window_set_max_content_width(GTK_SCROLLED_WINDOW(scroller), 1200);
  gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroller), 240);
  gtk_container_add(GTK_CONTAINER(scroller), view);
  GtkWidget* content = gtk_dialog_get_content_area(dialog.get());
  gtk_box_pack_start(GTK_BOX(content), scroller, TRUE, TRUE, 0);

  if (!rows.empty()) {
    std::unique_ptr<GtkTreePath, decltype(&gtk_tree_path_free)> first(
        gtk_tree_path_new_from_indices(static_cast<gint>(initialRow < rows.size() ? initialRow : 0), -1),
        &gtk_tree_path_free);
    gtk_tree_view_set_cursor(treeView, first.get(), nullptr, FALSE);
  }
  gtk_widget_show_all(dialog.widget());
  gtk_widget_grab_focus(view);

  if (gtk_dialog_run(dialog.get()) != GTK_RESPONSE_OK) return std::nullopt;
  return SelectedRow(selection);
}

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
