#include "dialogs/window_driver.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace quillbox::test {
namespace {

GtkWidget* FindDescendant(GtkWidget* widget, GType type) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  GtkWidget* found = nullptr;
  for (GList* child = children; child != nullptr && found == nullptr; child = child->next)
    found = FindDescendant(GTK_WIDGET(child->data), type);
  g_list_free(children);
  return found;
}

void ReadLabels(GtkWidget* widget, std::vector<std::string>& labels) {
  if (GTK_IS_LABEL(widget) && gtk_widget_get_visible(widget))
    labels.emplace_back(gtk_label_get_text(GTK_LABEL(widget)));
  if (!GTK_IS_CONTAINER(widget)) return;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* child = children; child != nullptr; child = child->next) ReadLabels(GTK_WIDGET(child->data), labels);
  g_list_free(children);
}

void ReadList(GtkWindow* window, GtkTreeView* view, int pointAtRow, SeenWindow& seen) {
  GtkTreeModel* model = gtk_tree_view_get_model(view);
  GtkTreeIter iter;
  for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more; more = gtk_tree_model_iter_next(model, &iter)) {
    std::vector<std::string> cells;
    for (int column = 0; column < gtk_tree_model_get_n_columns(model); ++column) {
      if (gtk_tree_model_get_column_type(model, column) != G_TYPE_STRING) {
        cells.emplace_back();
        continue;
      }
      gchar* text = nullptr;
      gtk_tree_model_get(model, &iter, column, &text, -1);
      cells.emplace_back(text != nullptr ? text : "");
      g_free(text);
    }
    seen.rows.push_back(std::move(cells));
  }
  GtkTreePath* cursor = nullptr;
  gtk_tree_view_get_cursor(view, &cursor, nullptr);
  if (cursor != nullptr) {
    seen.cursorRow = gtk_tree_path_get_indices(cursor)[0];
    gtk_tree_path_free(cursor);
  }
  seen.listHasFocus = gtk_window_get_focus(window) == GTK_WIDGET(view);
  GtkWidget* parent = gtk_widget_get_parent(GTK_WIDGET(view));
  if (parent != nullptr && GTK_IS_SCROLLED_WINDOW(parent)) {
    GtkAdjustment* sideways = gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(parent));
    seen.listWiderThanView = gtk_adjustment_get_upper(sideways) - gtk_adjustment_get_lower(sideways) >
                             gtk_adjustment_get_page_size(sideways) + 0.5;
  }
  if (pointAtRow >= 0) {
    GtkTreePath* path = gtk_tree_path_new_from_indices(pointAtRow, -1);
    GdkRectangle cell{};
    gtk_tree_view_get_cell_area(view, path, gtk_tree_view_get_column(view, 0), &cell);
    gtk_tree_path_free(path);
    int x = 0, y = 0, rootX = 0, rootY = 0;
    gtk_tree_view_convert_bin_window_to_widget_coords(view, cell.x + cell.width / 2, cell.y + cell.height / 2, &x, &y);
    gtk_widget_translate_coordinates(GTK_WIDGET(view), GTK_WIDGET(window), x, y, &x, &y);
    gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(window)), &rootX, &rootY);
    seen.rowX = rootX + x;
    seen.rowY = rootY + y;
  }
}

std::string ButtonLabel(GtkWidget* widget) {
  if (widget == nullptr || !GTK_IS_BUTTON(widget)) return {};
  const char* label = gtk_button_get_label(GTK_BUTTON(widget));
  return label != nullptr ? label : "";
}

void ReadButtons(GtkWidget* widget, std::vector<std::string>& buttons) {
  if (GTK_IS_BUTTON(widget) && gtk_widget_get_visible(widget)) {
    buttons.push_back(ButtonLabel(widget));
    return;
  }
  if (!GTK_IS_CONTAINER(widget)) return;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* child = children; child != nullptr; child = child->next) ReadButtons(GTK_WIDGET(child->data), buttons);
  g_list_free(children);
}

std::unique_ptr<XvfbServer>& Server() {
  static std::unique_ptr<XvfbServer> server;
  return server;
}

std::string& ServerError() {
  static std::string error;
  return error;
}

}  // namespace

DialogWatch::DialogWatch(std::string title, int pointAtRow) : title_(std::move(title)), pointAtRow_(pointAtRow) {
  poll_ = g_timeout_add(20, &DialogWatch::Poll, this);
  watchdog_ = g_timeout_add_seconds(60, &DialogWatch::Watchdog, this);
}

DialogWatch::~DialogWatch() {
  if (poll_ != 0) g_source_remove(poll_);
  if (watchdog_ != 0) g_source_remove(watchdog_);
}

GtkWindow* DialogWatch::Find() const {
  GList* windows = gtk_window_list_toplevels();
  GtkWindow* found = nullptr;
  for (GList* w = windows; w != nullptr; w = w->next) {
    GtkWindow* window = GTK_WINDOW(w->data);
    const char* title = gtk_window_get_title(window);
    if (title != nullptr && title_ == title && gtk_widget_get_mapped(GTK_WIDGET(window))) found = window;
  }
  g_list_free(windows);
  return found;
}

gboolean DialogWatch::Poll(gpointer self) {
  auto* watch = static_cast<DialogWatch*>(self);
  GtkWindow* window = watch->Find();
  if (window == nullptr) return G_SOURCE_CONTINUE;
  if (auto* view = FindDescendant(GTK_WIDGET(window), GTK_TYPE_TREE_VIEW))
    ReadList(window, GTK_TREE_VIEW(view), watch->pointAtRow_, watch->window_);
  if (auto* entry = FindDescendant(GTK_WIDGET(window), GTK_TYPE_ENTRY)) {
    watch->window_.entryHasFocus = gtk_window_get_focus(window) == entry;
    watch->window_.entryHidesText = !gtk_entry_get_visibility(GTK_ENTRY(entry));
  }
  ReadLabels(GTK_WIDGET(window), watch->window_.labels);
  gtk_window_get_size(window, &watch->window_.width, &watch->window_.height);
  ReadButtons(GTK_WIDGET(window), watch->window_.buttons);
  watch->window_.focusedButton = ButtonLabel(gtk_window_get_focus(window));
  watch->window_.defaultButton = ButtonLabel(gtk_window_get_default_widget(window));
  watch->window_.modal = gtk_window_get_modal(window) != FALSE;
  if (GTK_IS_DIALOG(window)) {
    GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(window), GTK_RESPONSE_OK);
    watch->window_.okSensitive = ok != nullptr && gtk_widget_is_sensitive(ok);
  }
  watch->poll_ = 0;
  watch->seen_.set_value();
  return G_SOURCE_REMOVE;
}

gboolean DialogWatch::Watchdog(gpointer self) {
  auto* watch = static_cast<DialogWatch*>(self);
  watch->watchdog_ = 0;
  watch->watchdogFired_ = true;
  if (GtkWindow* window = watch->Find(); window != nullptr && GTK_IS_DIALOG(window))
    gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_CANCEL);
  return G_SOURCE_REMOVE;
}

Driver::Driver(DialogWatch& watch, std::string title, Actions actions)
    : thread_([this, &watch, seen = watch.Seen(), title = std::move(title), actions = std::move(actions)]() mutable {
        if (seen.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
          Fail("the dialog never appeared");
          return;
        }
        window_ = FindWindow(title);
        if (window_.empty()) {
          Fail("xdotool did not find a window named \"" + title + "\"");
          return;
        }
        Run({"xdotool", "windowfocus", "--sync", window_});
        actions(*this, watch.Window());
      }) {}

void Driver::Join() {
  if (thread_.joinable()) thread_.join();
}

void Driver::Run(const std::vector<std::string>& argv) {
  if (RunProgram(argv) != 0) Fail("\"" + argv[0] + " " + (argv.size() > 1 ? argv[1] : "") + "\" failed");
}

void Driver::Fail(const std::string& problem) {
  std::lock_guard guard(lock_);
  problems_ += problem + "; ";
}

std::string Driver::Problems() {
  std::lock_guard guard(lock_);
  return problems_;
}

void CloseWindowAsTheWindowManagerWould(const std::string& title) {
  g_idle_add(
      [](gpointer data) -> gboolean {
        const std::unique_ptr<std::string> wanted(static_cast<std::string*>(data));
        GList* windows = gtk_window_list_toplevels();
        for (GList* w = windows; w != nullptr; w = w->next) {
          const char* shown = gtk_window_get_title(GTK_WINDOW(w->data));
          if (shown != nullptr && *wanted == shown) gtk_window_close(GTK_WINDOW(w->data));
        }
        g_list_free(windows);
        return G_SOURCE_REMOVE;
      },
      new std::string(title));
}

std::string ArtifactPath(const std::string& name) {
  std::filesystem::create_directories(QUILLBOX_ARTIFACT_DIR);
  return std::string(QUILLBOX_ARTIFACT_DIR) + "/" + name;
}

XvfbServer* TestDisplay() { return Server().get(); }

const std::string& TestDisplayError() { return ServerError(); }

void DisplayEnvironment::SetUp() {
  if (!ProgramInstalled("Xvfb")) return;
  Server() = XvfbServer::Start(ServerError());
  if (!Server()) return;
  setenv("DISPLAY", Server()->Display().c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  setenv("GDK_BACKEND", "x11", 1);
  setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus in the test session
}

const char* ToolkitLeakSuppressions() {
  return "leak:libgtk-3.so\nleak:libgdk-3.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\n"
         "leak:libfontconfig.so\nleak:libpango\nleak:libcairo.so\nleak:libX11.so\nleak:libharfbuzz.so\n"
         "leak:libatk\nleak:libepoxy.so\n";
}

}  // namespace quillbox::test
