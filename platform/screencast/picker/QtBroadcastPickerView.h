#pragma once

#include <QPointer>
#include <QWidget>
#include <string>
#include <utility>

class QDialog;
class QPushButton;

namespace platform::screencast {

// The broadcast picker view on Qt: a widget whose one child is a button; pressing the
// button shows the chooser sheet for the preferred extension over the picker's window.
// The button fills the picker and is clipped to it, so the picker can be as small as its
// owner makes it. Main thread.
class QtBroadcastPickerView : public QWidget {
  Q_OBJECT

 public:
  explicit QtBroadcastPickerView(QWidget* parent = nullptr);

  void setPreferredExtension(std::string extensionId) { preferredExtension_ = std::move(extensionId); }
  void setShowsMicrophoneButton(bool shows) { showsMicrophoneButton_ = shows; }

  // The chooser sheet the picker has open, or null.
  [[nodiscard]] QDialog* openSheet() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void showSheet();

  QPushButton* button_;
  std::string preferredExtension_;
  bool showsMicrophoneButton_ = false;
  // Cleared by Qt when the sheet is deleted.
  QPointer<QDialog> sheet_;
};

}  // namespace platform::screencast
