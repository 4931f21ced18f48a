#include "widgets/SornWidgetBundle.h"

int main() {
  widgets::SornWidgetBundle::main();
  return 0;
}
