#pragma once

namespace app {

// The application: one GtkApplication ("com.tarnwell.sorn") with one window showing the
// RootView. A second start of the app raises the running one's window. Main thread.
class SornApp {
 public:
  static constexpr const char* kApplicationId = "com.tarnwell.sorn";
  static constexpr int kDefaultWidth = 390;
  static constexpr int kDefaultHeight = 844;

  // Runs the application to its end; the process's exit status.
  static int main(int argc, char** argv);
};

}  // namespace app
