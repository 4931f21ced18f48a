#pragma once

namespace app {

// The application: one window showing the root view of the engine the app was built with,
// registered as "com.tarnwell.sorn" on the session bus. A second start of the app raises the
// running one's window. Main thread.
class SornApp {
 public:
  static constexpr const char* kApplicationId = "com.tarnwell.sorn";
  static constexpr int kDefaultWidth = 390;
  static constexpr int kDefaultHeight = 844;

  // Runs the application to its end; the process's exit status.
  static int main(int argc, char** argv);
};

}  // namespace app
