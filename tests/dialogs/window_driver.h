// Driving the real GTK dialogs on a private Xvfb display from a test: a watch placed on the main
// loop that the dialog runs reads what the window shows (on the GTK thread, where that is allowed)
// and cancels a dialog nobody closes; a driver thread finds the window by its title with xdotool
// and sends keys and clicks once the watch has seen it.
#pragma once

#include "dialogs/x_display.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillbox::test {

// What the watch saw of the dialog window.
struct SeenWindow {
  std::vector<std::vector<std::string>> rows;  // the list's cells, row by row
  int cursorRow = -1;
  bool listHasFocus = false;
  bool entryHasFocus = false;
  bool entryHidesText = false;
  bool okSensitive = false;
  int rowX = -1, rowY = -1;  // screen position of the middle of the row asked for
  std::vector<std::string> labels;  // the texts of the window's labels, in widget order
  int width = 0, height = 0;        // the window's size
  bool listWiderThanView = false;   // the list would need sideways scrolling
  std::vector<std::string> buttons;  // the labels of the window's buttons, mnemonics kept
  std::string focusedButton;         // the label of the button that has the focus, if one has
  std::string defaultButton;         // the label of the window's default button, if it has one
  bool modal = false;
};

class DialogWatch {
 public:
  // Watches for a mapped window titled `title`; with `pointAtRow` >= 0 it also finds where on the
  // screen that row of the list is.
  explicit DialogWatch(std::string title, int pointAtRow = -1);
  DialogWatch(const DialogWatch&) = delete;
  DialogWatch& operator=(const DialogWatch&) = delete;
  ~DialogWatch();

  std::future<void> Seen() { return seen_.get_future(); }
  const SeenWindow& Window() const { return window_; }
  bool WatchdogFired() const { return watchdogFired_; }

 private:
  GtkWindow* Find() const;
  static gboolean Poll(gpointer self);
  static gboolean Watchdog(gpointer self);

  std::string title_;
  int pointAtRow_;
  guint poll_ = 0;
  guint watchdog_ = 0;
  std::promise<void> seen_;
  SeenWindow window_;
  std::atomic<bool> watchdogFired_ = false;
};

class Driver;
// What a test does to the dialog once it is up; it gets what the watch saw of the window.
using Actions = std::function<void(Driver&, const SeenWindow&)>;

// Runs `actions` on a second thread once the watch has seen the window (the dialog itself holds
// the test's thread). Records what went wrong, if anything.
class Driver {
 public:
  Driver(DialogWatch& watch, std::string title, Actions actions);
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
  ~Driver() { Join(); }

  void Join();
  // Runs an X tool; a failure is recorded.
  void Run(const std::vector<std::string>& argv);
  void Fail(const std::string& problem);
  std::string Problems();

 private:
  std::mutex lock_;
  std::string problems_;
  std::string window_;
  std::thread thread_;
};

// Closes the window titled `title` as a window manager's close button does (a delete event), from
// any thread: the close runs on the GTK thread.
void CloseWindowAsTheWindowManagerWould(const std::string& title);

// A path in the build tree's tests/artifacts/, which is created if needed.
std::string ArtifactPath(const std::string& name);

// One Xvfb display for the whole program (GTK connects to one display per process), started by
// DisplayEnvironment and kept until the process ends, since GTK keeps its connection to the end.
XvfbServer* TestDisplay();
const std::string& TestDisplayError();

class DisplayEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
};

// GTK, GLib, fontconfig and the X libraries keep process-lifetime allocations that the leak
// checker would report after every window test; programs return these from
// __lsan_default_suppressions.
const char* ToolkitLeakSuppressions();

}  // namespace quillbox::test
