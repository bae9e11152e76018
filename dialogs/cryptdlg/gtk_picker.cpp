// The certificate picker as a modal GTK window: one row per certificate (the holder's name large,
// who issued it, how long it is valid and where its key is, warnings on the right), the selected
// certificate's full names and serial below, and Cancel and OK. It never needs more room than a
// 1024x768 screen gives: long names are ellipsized in the list and wrapped in the details.
#include "frontends.h"
#include "gtk_window.h"
#include "l10n.h"
#include "picker_texts.h"

#include <gtk/gtk.h>

#include <memory>

namespace qb::cryptdlg {
namespace {

// The model's columns, all text: what the rows say (read back by the tests), then the markup
// that the two view columns render.
enum Column {
  kHolder, kIssuerName, kValidity, kKey, kMarks, kSubject, kIssuer, kSerial, kRowMarkup, kMarksMarkup, kColumnCount
};

constexpr const char* kWarningColour = "#c01c28";
// The list's text column asks for no more than this many characters; the rest is ellipsized.
constexpr int kListChars = 60;
constexpr int kDetailChars = 72;
constexpr int kDetailMinChars = 48;
// Wide enough for a name, an issuer and a key place side by side, well within 1024 pixels.
constexpr int kDefaultWidth = 760;
// Heights in pixels: the list shows four to five rows, the details their usual seven lines.
constexpr int kListMinHeight = 200;
constexpr int kListMaxHeight = 340;
constexpr int kDetailHeight = 210;

struct Freed {
  void operator()(gchar* text) const { g_free(text); }
};

std::string Escaped(const std::string& text) {
  std::unique_ptr<gchar, Freed> escaped(g_markup_escape_text(text.c_str(), -1));
  return escaped ? std::string(escaped.get()) : std::string();
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
  return out;
}

std::string RowMarkup(const CertificateRow& row) {
  const std::string validity = Escaped(ValidityText(row));
  return "<span size=\"large\" weight=\"bold\">" + Escaped(row.holder) + "</span>\n" + Escaped(IssuerText(row)) +
         "\n" +
         (row.validity == Validity::kValid ? validity
                                           : "<span foreground=\"" + std::string(kWarningColour) + "\">" + validity +
                                                 "</span>") +
         "  \u00B7  " + Escaped(KeyText(row));
}

std::string MarksMarkup(const std::vector<std::string>& marks) {
  if (marks.empty()) return {};
  std::vector<std::string> escaped;
  escaped.reserve(marks.size());
  for (const std::string& mark : marks) escaped.push_back(Escaped(mark));
  return "<span foreground=\"" + std::string(kWarningColour) + "\" weight=\"bold\">" + Joined(escaped, "\n") +
         "</span>";
}

// What the selection handler needs; it lives until the handler is disconnected.
struct PickerState {
  GtkWidget* dialog = nullptr;
  const std::vector<CertificateRow>* rows = nullptr;
  std::vector<GtkWidget*> detailValues;
};

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

void ShowDetails(PickerState& state, const std::optional<std::size_t>& row) {
  const bool shown = row && *row < state.rows->size();
  const auto details = shown ? Details((*state.rows)[*row]) : std::vector<std::pair<std::string, std::string>>{};
  for (std::size_t i = 0; i < state.detailValues.size(); ++i)
    gtk_label_set_text(GTK_LABEL(state.detailValues[i]), i < details.size() ? details[i].second.c_str() : "");
}

void OnSelectionChanged(GtkTreeSelection* selection, gpointer data) {
  auto& state = *static_cast<PickerState*>(data);
  const auto row = SelectedRow(selection);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(state.dialog), GTK_RESPONSE_OK, row.has_value());
  ShowDetails(state, row);
}

void OnRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer dialog) {
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
}

std::unique_ptr<GtkListStore, ObjectUnref> ModelOf(const std::vector<CertificateRow>& rows) {
  std::unique_ptr<GtkListStore, ObjectUnref> store(gtk_list_store_new(
      kColumnCount, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
      G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING));
  for (const CertificateRow& row : rows) {
    const auto marks = Marks(row);
    GtkTreeIter iter;
    gtk_list_store_append(store.get(), &iter);
    gtk_list_store_set(store.get(), &iter, kHolder, row.holder.c_str(), kIssuerName, row.issuerName.c_str(),
                       kValidity, ValidityText(row).c_str(), kKey, KeyText(row).c_str(), kMarks,
                       Joined(marks, "; ").c_str(), kSubject, row.subject.c_str(), kIssuer, row.issuer.c_str(),
                       kSerial, row.serial.c_str(), kRowMarkup, RowMarkup(row).c_str(), kMarksMarkup,
                       MarksMarkup(marks).c_str(), -1);
  }
  return store;
}

GtkWidget* ListView(GtkListStore* model) {
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(model));
  GtkTreeView* treeView = GTK_TREE_VIEW(view);
  gtk_tree_view_set_headers_visible(treeView, FALSE);

  GtkCellRenderer* text = gtk_cell_renderer_text_new();
  g_object_set(text, "ellipsize", PANGO_ELLIPSIZE_END, "width-chars", 24, "max-width-chars", kListChars, "ypad", 4,
               nullptr);
  GtkTreeViewColumn* main = gtk_tree_view_column_new_with_attributes("", text, "markup", kRowMarkup, nullptr);
  gtk_tree_view_column_set_expand(main, TRUE);
  gtk_tree_view_append_column(treeView, main);

  GtkCellRenderer* marks = gtk_cell_renderer_text_new();
  g_object_set(marks, "xalign", 1.0, "yalign", 0.0, "ypad", 6, "xpad", 6, nullptr);
  gtk_tree_view_append_column(treeView,
                              gtk_tree_view_column_new_with_attributes("", marks, "markup", kMarksMarkup, nullptr));
  // Typing a name finds it, as in any list.
  gtk_tree_view_set_search_column(treeView, kHolder);
  return view;
}

// The details of the selected row: a label per field, its value wrapped and selectable (so a name
// can be copied).
GtkWidget* DetailsArea(PickerState& state) {
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 2);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 6);
  const CertificateRow blank;
  const auto fields = Details(blank);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    GtkWidget* key = gtk_label_new(fields[i].first.c_str());
    gtk_label_set_xalign(GTK_LABEL(key), 0.0F);
    gtk_label_set_yalign(GTK_LABEL(key), 0.0F);
    gtk_style_context_add_class(gtk_widget_get_style_context(key), "dim-label");
    GtkWidget* value = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(value), 0.0F);
    gtk_label_set_line_wrap(GTK_LABEL(value), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(value), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_width_chars(GTK_LABEL(value), kDetailMinChars);
    gtk_label_set_max_width_chars(GTK_LABEL(value), kDetailChars);
    gtk_label_set_selectable(GTK_LABEL(value), TRUE);
    gtk_widget_set_can_focus(value, FALSE);  // Tab goes from the list to the buttons, as before
    gtk_widget_set_hexpand(value, TRUE);
    gtk_grid_attach(GTK_GRID(grid), key, 0, static_cast<gint>(i), 1, 1);
    gtk_grid_attach(GTK_GRID(grid), value, 1, static_cast<gint>(i), 1, 1);
    state.detailValues.push_back(value);
  }
  // Names of several hundred characters wrap to many lines: beyond a few, the details scroll
  // rather than push the buttons off a small screen.
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), TRUE);
  gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroller), kDetailHeight);
  gtk_widget_set_can_focus(scroller, FALSE);  // no stop for Tab on the way to the buttons
  gtk_container_add(GTK_CONTAINER(scroller), grid);
  GtkWidget* frame = gtk_frame_new(Tr(QB_N_("Details")).c_str());
  gtk_container_add(GTK_CONTAINER(frame), scroller);
  return frame;
}

}  // namespace

std::optional<std::size_t> ChooseInWindow(const std::string& title, const std::vector<CertificateRow>& rows,
                                          std::size_t initialRow) {
  PickerState state;
  state.rows = &rows;
  // GTK's own button texts follow the host's locale, not the user's: the picker brings its own.
  DialogWindow dialog(NewDialog(PickerTitle(title), Tr(QB_N_("_Cancel")).c_str(), Tr(QB_N_("_OK")).c_str()));
  state.dialog = dialog.widget();
  gtk_window_set_default_size(GTK_WINDOW(dialog.widget()), kDefaultWidth, -1);
  GtkWidget* content = gtk_dialog_get_content_area(dialog.get());
  gtk_box_set_spacing(GTK_BOX(content), 6);

  GtkWidget* heading = gtk_label_new(
      rows.empty() ? Tr(QB_N_("There are no certificates to choose from.")).c_str()
                   : Tr(QB_N_("Choose the certificate to sign with:")).c_str());
  gtk_label_set_xalign(GTK_LABEL(heading), 0.0F);
  gtk_box_pack_start(GTK_BOX(content), heading, FALSE, FALSE, 0);

  const auto model = ModelOf(rows);
  GtkWidget* view = ListView(model.get());
  GtkTreeView* treeView = GTK_TREE_VIEW(view);
  GtkTreeSelection* selection = gtk_tree_view_get_selection(treeView);
  gtk_tree_selection_set_mode(selection, GTK_SELECTION_BROWSE);

  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  // Never sideways: the text column ellipsizes to the width there is. Up and down as needed.
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroller), TRUE);
  gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), TRUE);
  gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroller), kListMinHeight);
  gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroller), kListMaxHeight);
  gtk_container_add(GTK_CONTAINER(scroller), view);
  gtk_box_pack_start(GTK_BOX(content), scroller, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(content), DetailsArea(state), FALSE, FALSE, 0);

  const gulong changed = g_signal_connect(selection, "changed", G_CALLBACK(OnSelectionChanged), &state);
  g_signal_connect(view, "row-activated", G_CALLBACK(OnRowActivated), dialog.widget());
  gtk_dialog_set_response_sensitive(dialog.get(), GTK_RESPONSE_OK, FALSE);

  if (!rows.empty()) {
    std::unique_ptr<GtkTreePath, decltype(&gtk_tree_path_free)> first(
        gtk_tree_path_new_from_indices(static_cast<gint>(initialRow < rows.size() ? initialRow : 0), -1),
        &gtk_tree_path_free);
    gtk_tree_view_set_cursor(treeView, first.get(), nullptr, FALSE);
    gtk_tree_view_scroll_to_cell(treeView, first.get(), nullptr, FALSE, 0, 0);
  }
  gtk_widget_show_all(dialog.widget());
  gtk_widget_grab_focus(view);

  const gint response = gtk_dialog_run(dialog.get());
  const auto chosen = SelectedRow(selection);
  // The handler's state ends with this call; the window's destruction must not reach it.
  g_signal_handler_disconnect(selection, changed);
  if (response != GTK_RESPONSE_OK) return std::nullopt;
  return chosen;
}

}  // namespace qb::cryptdlg
