#pragma once

#include <gio/gio.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/gobject/ObjectRef.h"
#include "tests/platform/screencast/portal/RigProcess.h"

namespace testsupport {

// A desktop session of its own for screen-cast tests: a D-Bus session bus, PipeWire and
// WirePlumber without devices, the permission store, the desktop portal and a mock
// screen-cast backend whose "user" always picks a 1280x720 30 fps test pattern. Everything
// runs in a private runtime folder and ends with the object.
class PortalRig {
 public:
  // The programs the rig needs that this machine lacks; empty when it can run.
  static std::vector<std::string> missingPrograms();

  // Starts the session; throws std::runtime_error naming the part that did not come up.
  PortalRig();
  ~PortalRig();
  PortalRig(const PortalRig&) = delete;
  PortalRig& operator=(const PortalRig&) = delete;

  const std::string& busAddress() const { return busAddress_; }
  const std::filesystem::path& runtimeDir() const { return runtimeDir_; }
  // The environment of programs that take part in the session ("NAME=value" entries).
  const std::vector<std::string>& environment() const { return environment_; }
  // A connection of the test's own to the session bus.
  GDBusConnection* bus() const { return bus_.get(); }

 private:
  void bringUp();
  void tearDown();
  void start(const std::string& what, std::vector<std::string> argv);
  void waitForBusName(const std::string& name, const std::string& what);

  std::filesystem::path root_;
  std::filesystem::path runtimeDir_;
  std::string busAddress_;
  std::vector<std::string> environment_;
  platform::gobject::ObjectRef<GDBusConnection> bus_;
  // Started in order, ended in reverse.
  std::vector<std::unique_ptr<RigProcess>> processes_;
};

}  // namespace testsupport
