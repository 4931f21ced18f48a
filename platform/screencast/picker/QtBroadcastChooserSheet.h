#pragma once

#include <QDialog>
#include <string>

#include "platform/screencast/picker/BroadcastChoice.h"

class QCheckBox;

namespace platform::screencast {

// The chooser sheet on Qt: a modal dialog over the app's window that names the
// preselected broadcast extension and starts it ("Start Broadcast", the default) or does
// nothing ("Cancel", also Escape and closing). Its parts carry BroadcastChoice's names as
// object names. Deletes itself when closed. Main thread.
class QtBroadcastChooserSheet : public QDialog {
  Q_OBJECT

 public:
  // Looks up the extension and shows the sheet; `parent` may be null.
  static QtBroadcastChooserSheet* present(QWidget* parent, const std::string& extensionId,
                                          bool showsMicrophoneButton);

 private:
  QtBroadcastChooserSheet(QWidget* parent, const std::string& extensionId, bool showsMicrophoneButton);

  // Shows what the choice offers now: the extension and Start, or only Cancel.
  void fill();
  void start();

  BroadcastChoice choice_;
  QWidget* content_ = nullptr;
  QCheckBox* microphoneSwitch_ = nullptr;
};

}  // namespace platform::screencast
