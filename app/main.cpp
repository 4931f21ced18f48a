// The app's process entry: everything else starts from SornApp.
#include "app/SornApp.h"

int main(int argc, char** argv) { return app::SornApp::main(argc, argv); }
