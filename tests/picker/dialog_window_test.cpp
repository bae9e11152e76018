// The real GTK dialogs on a private Xvfb display, driven from the keyboard and mouse with xdotool.
// A watch placed on the main loop that the dialog runs reads what the window shows (on the GTK
// thread, where that is allowed) before the keys are sent, and cancels a dialog nobody closes.
#include "picker/picker_support.h"
#include "picker/x_display.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

// GTK, GLib, fontconfig and the X libraries keep process-lifetime allocations that the leak
// checker would otherwise report after every window test.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgtk-3.so\nleak:libgdk-3.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\n"
         "leak:libfontconfig.so\nleak:libpango\nleak:libcairo.so\nleak:libX11.so\nleak:libharfbuzz.so\n"
         "leak:libatk\nleak:libepoxy.so\n";
}

namespace qb::test {
namespace {

// What the watch saw of the dialog window.
struct SeenWindow {
  std::vector<std::vector<std::string>> rows;  // the list's cells, row by row
  int cursorRow = -1;
  bool listHasFocus = false;
  bool entryHasFocus = false;
  bool entryHidesText = false;
  bool okSensitive = false;
  int rowX = -1, rowY = -1;  // screen position of the middle of the row asked for
};

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

void ReadList(GtkWindow* window, GtkTreeView* view, int pointAtRow, SeenWindow& seen) {
  GtkTreeModel* model = gtk_tree_view_get_model(view);
  GtkTreeIter iter;
  for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more; more = gtk_tree_model_iter_next(model, &iter)) {
    std::vector<std::string> cells;
    for (int column = 0; column < gtk_tree_model_get_n_columns(model); ++column) {
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

class DialogWatch {
 public:
  DialogWatch(std::string title, int pointAtRow = -1) : title_(std::move(title)), pointAtRow_(pointAtRow) {
    poll_ = g_timeout_add(20, &DialogWatch::Poll, this);
    watchdog_ = g_timeout_add_seconds(60, &DialogWatch::Watchdog, this);
  }
  DialogWatch(const DialogWatch&) = delete;
  DialogWatch& operator=(const DialogWatch&) = delete;
  ~DialogWatch() {
    if (poll_ != 0) g_source_remove(poll_);
    if (watchdog_ != 0) g_source_remove(watchdog_);
  }

  std::future<void> Seen() { return seen_.get_future(); }
  const SeenWindow& Window() const { return window_; }
  bool WatchdogFired() const { return watchdogFired_; }

 private:
  GtkWindow* Find() const {
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

  static gboolean Poll(gpointer self) {
    auto* watch = static_cast<DialogWatch*>(self);
    GtkWindow* window = watch->Find();
    if (window == nullptr) return G_SOURCE_CONTINUE;
    if (auto* view = FindDescendant(GTK_WIDGET(window), GTK_TYPE_TREE_VIEW))
      ReadList(window, GTK_TREE_VIEW(view), watch->pointAtRow_, watch->window_);
    if (auto* entry = FindDescendant(GTK_WIDGET(window), GTK_TYPE_ENTRY)) {
      watch->window_.entryHasFocus = gtk_window_get_focus(window) == entry;
      watch->window_.entryHidesText = !gtk_entry_get_visibility(GTK_ENTRY(entry));
    }
    if (GTK_IS_DIALOG(window)) {
      GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(window), GTK_RESPONSE_OK);
      watch->window_.okSensitive = ok != nullptr && gtk_widget_is_sensitive(ok);
    }
    watch->poll_ = 0;
    watch->seen_.set_value();
    return G_SOURCE_REMOVE;
  }

  static gboolean Watchdog(gpointer self) {
    auto* watch = static_cast<DialogWatch*>(self);
    watch->watchdog_ = 0;
    watch->watchdogFired_ = true;
    if (GtkWindow* window = watch->Find(); window != nullptr && GTK_IS_DIALOG(window))
      gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_CANCEL);
    return G_SOURCE_REMOVE;
  }

  std::string title_;
  int pointAtRow_;
  guint poll_ = 0;
  guint watchdog_ = 0;
  std::promise<void> seen_;
  SeenWindow window_;
  std::atomic<bool> watchdogFired_ = false;
};

std::string ArtifactPath(const std::string& name) {
  std::filesystem::create_directories(QUILLBOX_ARTIFACT_DIR);
  return std::string(QUILLBOX_ARTIFACT_DIR) + "/" + name;
}

class Driver;
// What a test does to the dialog once it is up; it gets what the watch saw of the window.
using Actions = std::function<void(Driver&, const SeenWindow&)>;

// Runs `actions` on a second thread once the watch has seen the window (the dialog itself holds
// the test's thread). Records what went wrong, if anything.
class Driver {
 public:
  Driver(DialogWatch& watch, std::string title, Actions actions)
      : thread_([this, &watch, seen = watch.Seen(), title = std::move(title), actions = std::move(actions)]() mutable {
          if (seen.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            Fail("the dialog never appeared");
            return;
          }
          std::string found;
          if (RunProgram({"timeout", "30", "xdotool", "search", "--sync", "--onlyvisible", "--name", "^" + title + "$"},
                         &found) != 0 ||
              found.empty()) {
            Fail("xdotool did not find a window named \"" + title + "\"");
            return;
          }
          window_ = found.substr(0, found.find('\n'));
          Run({"xdotool", "windowfocus", "--sync", window_});
          actions(*this, watch.Window());
        }) {}
  ~Driver() { Join(); }

  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  void Run(const std::vector<std::string>& argv) {
    if (RunProgram(argv) != 0) Fail("\"" + argv[0] + " " + (argv.size() > 1 ? argv[1] : "") + "\" failed");
  }
  void Fail(const std::string& problem) {
    std::lock_guard guard(lock_);
    problems_ += problem + "; ";
  }
  std::string Problems() {
    std::lock_guard guard(lock_);
    return problems_;
  }

 private:
  std::mutex lock_;
  std::string problems_;
  std::string window_;
  std::thread thread_;
};

std::unique_ptr<XvfbServer>& Server() {
  static std::unique_ptr<XvfbServer> server;
  return server;
}
std::string& ServerError() {
  static std::string error;
  return error;
}

// One display for the whole program: GTK connects to a display once per process.
class DisplayEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!ProgramInstalled("Xvfb")) return;
    Server() = XvfbServer::Start(ServerError());
    if (!Server()) return;
    setenv("DISPLAY", Server()->Display().c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("GDK_BACKEND", "x11", 1);
    setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus in the test session
  }
  // The server stays up until the process ends: GTK keeps its connection to the end.
};

const auto* const kDisplayEnvironment = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

class WindowPicker : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProgramInstalled("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb); window tests skipped";
    ASSERT_TRUE(Server() != nullptr) << ServerError();
    ASSERT_TRUE(module.Loaded());
  }

  // One dialog over `source`: `actions` drive it once it is up; returns the call's outcome.
  std::string Pick(FakeStore& source, const Actions& actions,
                   SeenWindow* seen = nullptr, int pointAtRow = -1, PCCERT_CONTEXT preselect = nullptr) {
    SelectRequest request(source.Handle());
    if (preselect != nullptr) {
      request.chosen[0] = preselect;
      request.request.cCertContext = 1;
    }
    DialogWatch watch(kPickerTitle, pointAtRow);
    Driver driver(watch, kPickerTitle, actions);
    const BOOL result = module.Select(&request.request);
    driver.Join();
    EXPECT_EQ(driver.Problems(), "");
    EXPECT_FALSE(watch.WatchdogFired()) << "the dialog had to be closed by the test's watchdog";
    if (seen != nullptr) *seen = watch.Window();
    std::string outcome = Outcome(result, request, source);
    if (result && request.chosen[0] != preselect) CertFreeCertificateContext(request.chosen[0]);
    return outcome;
  }

  CryptdlgModule module;
  FakeStore store{SampleCertificates()};
};

TEST_F(WindowPicker, ShowsTheStoresCertificatesAndEnterAfterDownChoosesTheSecond) {
  SeenWindow seen;
  const std::string screenshot = ArtifactPath("picker-dialog.png");
  std::filesystem::remove(screenshot);
  const std::string outcome = Pick(
      store,
      [&screenshot](Driver& driver, const SeenWindow&) {
        driver.Run({"import", "-window", "root", screenshot});
        driver.Run({"xdotool", "key", "Down", "Return"});
      },
      &seen);
  EXPECT_EQ(outcome, "result=1 count=1 chosen=1 outstanding=1");

  const std::vector<std::vector<std::string>> expected = {
      {"CN=Ana Novak, O=Quillbox Test, C=SI", "CN=Test CA, O=Quillbox Test, C=SI", "013CFF0A",
       "2024-01-15 08:30:00 UTC", "2026-01-15 08:30:00 UTC"},
      {"CN=Bojan Kralj, O=Quillbox Test, C=SI", "CN=Test CA, O=Quillbox Test, C=SI", "0042", "2023-06-01 00:00:00 UTC",
       "2025-06-01 00:00:00 UTC"},
      {"CN=Cvetka Zupan, O=Druga, C=SI", "CN=Other CA, C=SI", "FF80", "2022-12-31 23:59:59 UTC",
       "2032-12-31 23:59:59 UTC"},
  };
  EXPECT_EQ(seen.rows, expected);
  EXPECT_EQ(seen.cursorRow, 0) << "the first row starts selected";
  EXPECT_TRUE(seen.listHasFocus) << "the list takes the keyboard at once";
  EXPECT_TRUE(seen.okSensitive);
  EXPECT_GT(std::filesystem::exists(screenshot) ? std::filesystem::file_size(screenshot) : 0u, 0u);
  // The window is gone once the call has returned.
  EXPECT_NE(RunProgram({"xdotool", "search", "--onlyvisible", "--name", std::string("^") + kPickerTitle + "$"}), 0);
}

TEST_F(WindowPicker, EnterChoosesTheFirstRowAsShown) {
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Return"}); }),
            "result=1 count=1 chosen=0 outstanding=1");
}

TEST_F(WindowPicker, EscapeCancelsAndReleasesEverything) {
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Down", "Escape"}); }),
            "result=0 count=0 chosen=-1 outstanding=0");
}

TEST_F(WindowPicker, TabToCancelAndSpaceCancels) {
  // Keyboard alone: from the list, Tab reaches the buttons, Cancel first.
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Tab", "space"}); }),
            "result=0 count=0 chosen=-1 outstanding=0");
}

TEST_F(WindowPicker, DoubleClickChoosesTheRowClicked) {
  SeenWindow seen;
  const std::string outcome = Pick(
      store,
      [](Driver& driver, const SeenWindow& shown) {
        driver.Run({"xdotool", "mousemove", "--sync", std::to_string(shown.rowX), std::to_string(shown.rowY)});
        driver.Run({"xdotool", "click", "--repeat", "2", "--delay", "60", "1"});
      },
      &seen, 2);
  EXPECT_EQ(outcome, "result=1 count=1 chosen=2 outstanding=1");
}

TEST_F(WindowPicker, CertificateGivenInAdvanceStartsHighlighted) {
  SeenWindow seen;
  const std::string outcome =
      Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Return"}); }, &seen, -1,
           store.At(2));
  EXPECT_EQ(seen.cursorRow, 2);
  EXPECT_EQ(outcome, "result=1 count=1 chosen=2 outstanding=1");
}

TEST_F(WindowPicker, EmptyStoreOffersNothingToConfirm) {
  FakeStore empty({});
  SeenWindow seen;
  EXPECT_EQ(Pick(empty, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Return", "Escape"}); },
                 &seen),
            "result=0 count=0 chosen=-1 outstanding=0");
  EXPECT_TRUE(seen.rows.empty());
  EXPECT_FALSE(seen.okSensitive);
}

TEST_F(WindowPicker, DialogCanBeShownAgainInTheSameProcess) {
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Escape"}); }),
            "result=0 count=0 chosen=-1 outstanding=0");
  CryptdlgModule again;  // a further load, as the component loads the module for every dialog
  ASSERT_TRUE(again.Loaded());
  EXPECT_EQ(Pick(store, [](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "End", "Return"}); }),
            "result=1 count=1 chosen=2 outstanding=1");
}

class WindowPassword : public WindowPicker {
 protected:
  std::string Ask(BOOL retry, const Actions& actions, SeenWindow& seen,
                  const std::string& screenshot = {}) {
    DialogWatch watch("Password");
    Driver driver(watch, "Password", [&](Driver& d, const SeenWindow& shown) {
      if (!screenshot.empty()) d.Run({"import", "-window", "root", screenshot});
      actions(d, shown);
    });
    char password[32] = "stale";
    const BOOL result = module.Password("NSS Certificate DB", retry, password, sizeof password);
    driver.Join();
    EXPECT_EQ(driver.Problems(), "");
    EXPECT_FALSE(watch.WatchdogFired());
    seen = watch.Window();
    return "result=" + std::to_string(result) + " password=" + password;
  }
};

TEST_F(WindowPassword, TypedPasswordIsReturnedAndNotShown) {
  SeenWindow seen;
  const std::string screenshot = ArtifactPath("password-dialog.png");
  EXPECT_EQ(Ask(FALSE,
                [](Driver& driver, const SeenWindow&) {
                  driver.Run({"xdotool", "type", "--delay", "30", "s3cret"});
                  driver.Run({"xdotool", "key", "Return"});
                },
                seen, screenshot),
            "result=1 password=s3cret");
  EXPECT_TRUE(seen.entryHasFocus);
  EXPECT_TRUE(seen.entryHidesText);
  EXPECT_TRUE(std::filesystem::exists(screenshot));
}

TEST_F(WindowPassword, EscapeGivesUp) {
  SeenWindow seen;
  EXPECT_EQ(Ask(TRUE,
                [](Driver& driver, const SeenWindow&) {
                  driver.Run({"xdotool", "type", "--delay", "30", "abc"});
                  driver.Run({"xdotool", "key", "Escape"});
                },
                seen),
            "result=0 password=");
}

}  // namespace
}  // namespace qb::test
