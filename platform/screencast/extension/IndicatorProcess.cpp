#include "platform/screencast/extension/IndicatorProcess.h"

#include <array>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/dispatch/Guarded.h"

namespace platform::screencast {

using gobject::ObjectRef;

std::string IndicatorProcess::programPath() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (self.parent_path().parent_path() / "libexec" / "sorn" / "sorn-broadcast-indicator").string();
}

std::unique_ptr<IndicatorProcess> IndicatorProcess::spawn(const std::string& program,
                                                          std::function<void()> onStop) {
  std::array<const char*, 2> argv{program.c_str(), nullptr};
  // Standard error is silenced: an indicator that outlives this process (showing an
  // error) must not hold the pipes of whoever started the extension.
  auto flags = static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                             G_SUBPROCESS_FLAGS_STDERR_SILENCE);
  g_autoptr(GError) error = nullptr;
  auto process = ObjectRef<GSubprocess>::adopt(g_subprocess_newv(argv.data(), flags, &error));
  if (!process) return nullptr;
  auto indicator =
      std::unique_ptr<IndicatorProcess>(new IndicatorProcess(std::move(process), std::move(onStop)));
  indicator->readNextLine();
  return indicator;
}

IndicatorProcess::IndicatorProcess(ObjectRef<GSubprocess> process, std::function<void()> onStop)
    : process_(std::move(process)),
      output_(ObjectRef<GDataInputStream>::adopt(
          g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_.get())))),
      cancellable_(ObjectRef<GCancellable>::adopt(g_cancellable_new())),
      onStop_(std::move(onStop)) {}

IndicatorProcess::~IndicatorProcess() {
  // A read still out must not call back into this object.
  g_cancellable_cancel(cancellable_.get());
  close();
}

void IndicatorProcess::readNextLine() {
  g_data_input_stream_read_line_async(output_.get(), G_PRIORITY_DEFAULT, cancellable_.get(),
                                      &IndicatorProcess::onLine, this);
}

void IndicatorProcess::onLine(GObject* source, GAsyncResult* result, gpointer self) {
  g_autoptr(GError) error = nullptr;
  gsize length = 0;
  g_autofree char* line =
      g_data_input_stream_read_line_finish(G_DATA_INPUT_STREAM(source), result, &length, &error);
  // No line at the end of output or when cancelled: the indicator has gone, or so has this object.
  if (line == nullptr) return;
  const bool stop = std::string_view(line, length) == "stop";
  auto* indicator = static_cast<IndicatorProcess*>(self);
  // A press whose handling fails is lost; the broadcast goes on.
  if (stop && indicator->onStop_) platform::dispatch::runGuarded([indicator] { indicator->onStop_(); });
  if (g_cancellable_is_cancelled(indicator->cancellable_.get()) == FALSE) indicator->readNextLine();
}

void IndicatorProcess::showError(const std::string& description) {
  if (closed_) return;
  g_autofree char* escaped = g_strescape(description.c_str(), nullptr);
  const std::string line = std::string("error ") + escaped + "\n";
  GOutputStream* input = g_subprocess_get_stdin_pipe(process_.get());
  g_output_stream_write_all(input, line.data(), line.size(), nullptr, nullptr, nullptr);
  close();
}

void IndicatorProcess::close() {
  if (closed_) return;
  closed_ = true;
  g_output_stream_close(g_subprocess_get_stdin_pipe(process_.get()), nullptr, nullptr);
}

}  // namespace platform::screencast
