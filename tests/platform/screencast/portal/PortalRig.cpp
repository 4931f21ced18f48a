#include "tests/platform/screencast/portal/PortalRig.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <thread>

#include "tests/platform/screencast/portal/PipeWireObjects.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPortalFrontend = "/usr/libexec/xdg-desktop-portal";
constexpr const char* kPermissionStore = "/usr/libexec/xdg-permission-store";
constexpr const char* kMockBusName = "org.sorn.test.ScreenCastMock";
constexpr const char* kDesktopName = "sorn-portal-rig";
constexpr auto kStartLimit = std::chrono::seconds(20);

std::string programPath(const std::string& name) {
  if (name.front() == '/') return fs::exists(name) ? name : std::string();
  g_autofree gchar* found = g_find_program_in_path(name.c_str());
  return found != nullptr ? found : std::string();
}

const std::vector<std::string>& programs() {
  static const std::vector<std::string> names{
      "dbus-daemon",    "pipewire",      "wireplumber",           "pw-dump",
      kPermissionStore, kPortalFrontend, SORN_PORTAL_MOCK_BACKEND};
  return names;
}

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

bool pollUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Our environment with the session's variables in place of the desktop's.
std::vector<std::string> sessionEnvironment(const std::map<std::string, std::string>& session) {
  std::vector<std::string> entries;
  g_auto(GStrv) inherited = g_get_environ();
  for (gchar** entry = inherited; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (session.count(name) == 0 && name != "PIPEWIRE_REMOTE" && name != "PIPEWIRE_RUNTIME_DIR") {
      entries.push_back(text);
    }
  }
  for (const auto& [name, value] : session) entries.push_back(name + "=" + value);
  return entries;
}

}  // namespace

std::vector<std::string> PortalRig::missingPrograms() {
  std::vector<std::string> missing;
  for (const auto& name : programs()) {
    if (programPath(name).empty()) missing.push_back(name);
  }
  return missing;
}

PortalRig::PortalRig() {
  g_autofree gchar* root = g_dir_make_tmp("sorn-portal-rig-XXXXXX", nullptr);
  if (root == nullptr) throw std::runtime_error("no temporary folder for the portal rig");
  root_ = root;
  runtimeDir_ = root_ / "runtime";
  try {
    bringUp();
  } catch (...) {
    tearDown();
    throw;
  }
}

void PortalRig::bringUp() {
  fs::create_directory(runtimeDir_);
  fs::permissions(runtimeDir_, fs::perms::owner_all, fs::perm_options::replace);
  const fs::path socket = runtimeDir_ / "bus";
  busAddress_ = "unix:path=" + socket.string();

  // A bus that activates nothing: every service on it is one the rig started itself.
  writeFile(root_ / "session.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>" +
                busAddress_ +
                "</listen><auth>EXTERNAL</auth>"
                "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
  // WirePlumber's own configuration with the device monitors off.
  const std::string lua = "wireplumber/main.lua.d/90-enable-all.lua";
  writeFile(root_ / "config" / lua,
            "load_module(\"metadata\")\ndefault_access.enable()\ndevice_defaults.enable()\n"
            "stream_defaults.enable()\n");
  writeFile(root_ / "config/wireplumber/bluetooth.lua.d/90-enable-all.lua", "\n");
  // The frontend takes the backend whose UseIn names the current desktop.
  writeFile(root_ / "portals/sorn-mock.portal",
            std::string("[portal]\nDBusName=") + kMockBusName +
                "\nInterfaces=org.freedesktop.impl.portal.ScreenCast;\nUseIn=" + kDesktopName + "\n");

  environment_ = sessionEnvironment({
      {"XDG_RUNTIME_DIR", runtimeDir_.string()},
      {"DBUS_SESSION_BUS_ADDRESS", busAddress_},
      {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (runtimeDir_ / "no-system-bus").string()},
      {"XDG_CONFIG_HOME", (root_ / "config").string()},
      {"XDG_DATA_HOME", (root_ / "data").string()},
      {"XDG_STATE_HOME", (root_ / "state").string()},
      {"XDG_CURRENT_DESKTOP", kDesktopName},
      {"XDG_DESKTOP_PORTAL_DIR", (root_ / "portals").string()},
  });

  start("D-Bus",
        {"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + (root_ / "session.conf").string()});
  g_autoptr(GError) error = nullptr;
  pollUntil([&] {
    g_clear_error(&error);
    bus_ = platform::gobject::ObjectRef<GDBusConnection>::adopt(g_dbus_connection_new_for_address_sync(
        busAddress_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error));
    return static_cast<bool>(bus_);
  });
  if (!bus_) throw std::runtime_error("the rig's D-Bus did not come up: " + std::string(error->message));
  g_dbus_connection_set_exit_on_close(bus_.get(), FALSE);

  start("PipeWire", {"pipewire"});
  if (!pollUntil([&] { return fs::exists(runtimeDir_ / "pipewire-0"); })) {
    throw std::runtime_error("PipeWire did not come up");
  }
  start("WirePlumber", {"wireplumber"});
  if (!pollUntil([&] {
        return findPipeWireObject("PipeWire:Interface:Client", "application.name", "WirePlumber",
                                  environment_)
            .has_value();
      })) {
    throw std::runtime_error("WirePlumber did not come up");
  }
  start("the permission store", {kPermissionStore, "--replace"});
  waitForBusName("org.freedesktop.impl.portal.PermissionStore", "the permission store");
  start("the mock backend", {SORN_PORTAL_MOCK_BACKEND});
  waitForBusName(kMockBusName, "the mock backend");
  start("the portal", {kPortalFrontend, "--replace"});
  waitForBusName("org.freedesktop.portal.Desktop", "the portal");
}

PortalRig::~PortalRig() { tearDown(); }

void PortalRig::tearDown() {
  bus_ = {};
  while (!processes_.empty()) processes_.pop_back();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void PortalRig::start(const std::string& what, std::vector<std::string> argv) {
  argv.front() = programPath(argv.front());
  if (argv.front().empty()) throw std::runtime_error(what + " is not installed");
  processes_.push_back(std::make_unique<RigProcess>(argv, environment_));
}

void PortalRig::waitForBusName(const std::string& name, const std::string& what) {
  const bool owned = pollUntil([&] {
    if (!processes_.back()->running()) return false;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        nullptr);
    gboolean has = FALSE;
    if (reply != nullptr) g_variant_get(reply, "(b)", &has);
    return has == TRUE;
  });
  if (!owned) throw std::runtime_error(what + " did not take " + name);
}

}  // namespace testsupport
