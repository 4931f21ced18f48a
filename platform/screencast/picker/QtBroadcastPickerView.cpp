#include "platform/screencast/picker/QtBroadcastPickerView.h"

#include <QPushButton>
#include <algorithm>

#include "platform/dispatch/Guarded.h"
#include "platform/screencast/picker/QtBroadcastChooserSheet.h"

namespace platform::screencast {

QtBroadcastPickerView::QtBroadcastPickerView(QWidget* parent)
    : QWidget(parent), button_(new QPushButton(this)) {
  connect(button_, &QPushButton::clicked, this, [this] {
    // Out of memory: no sheet, as if the press had not happened.
    platform::dispatch::runGuarded([this] { showSheet(); });
  });
}

QDialog* QtBroadcastPickerView::openSheet() const {
  // A closed sheet is hidden at once but deleted on a later turn; only a visible one counts.
  QDialog* sheet = sheet_.data();
  return sheet != nullptr && sheet->isVisible() ? sheet : nullptr;
}

// The button gets the picker's size, or its own minimum where that is larger; the picker
// clips it.
void QtBroadcastPickerView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const QSize minimum = button_->minimumSizeHint();
  button_->setGeometry(0, 0, std::max(width(), minimum.width()), std::max(height(), minimum.height()));
}

// A second press while the sheet is open brings that sheet forward instead of stacking
// another one on top of it.
void QtBroadcastPickerView::showSheet() {
  if (QDialog* sheet = openSheet()) {
    sheet->raise();
    sheet->activateWindow();
    return;
  }
  sheet_ = QtBroadcastChooserSheet::present(window() != this ? window() : nullptr, preferredExtension_,
                                            showsMicrophoneButton_);
}

}  // namespace platform::screencast
