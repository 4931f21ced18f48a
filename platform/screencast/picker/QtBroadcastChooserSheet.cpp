#include "platform/screencast/picker/QtBroadcastChooserSheet.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace platform::screencast {
namespace {

using Choice = BroadcastChoice;

QLabel* makeLabel(const QString& text, const char* name) {
  auto* label = new QLabel(text);
  label->setObjectName(name);
  label->setWordWrap(true);
  return label;
}

QPushButton* makeButton(const char* text, const char* name) {
  auto* button = new QPushButton(QString::fromUtf8(text));
  button->setObjectName(name);
  return button;
}

}  // namespace

QtBroadcastChooserSheet* QtBroadcastChooserSheet::present(QWidget* parent, const std::string& extensionId,
                                                          bool showsMicrophoneButton) {
  auto* sheet = new QtBroadcastChooserSheet(parent, extensionId, showsMicrophoneButton);
  sheet->show();
  return sheet;
}

QtBroadcastChooserSheet::QtBroadcastChooserSheet(QWidget* parent, const std::string& extensionId,
                                                 bool showsMicrophoneButton)
    : QDialog(parent), choice_(extensionId, showsMicrophoneButton) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromUtf8(_(Choice::kTitle)));
  setModal(true);
  // QDialog already rejects on Escape and on closing: both cancel, as the button does.
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  fill();
}

void QtBroadcastChooserSheet::fill() {
  if (content_ != nullptr) {
    // Start's own click may be what got here: let go of the old parts now, delete them later.
    content_->hide();
    content_->setParent(nullptr);
    content_->deleteLater();
  }
  content_ = new QWidget(this);
  auto* box = new QVBoxLayout(content_);
  box->setContentsMargins(24, 24, 24, 24);
  box->setSpacing(12);
  QLabel* title = choice_.offersStart() ? makeLabel(QString::fromStdString(choice_.extensionName()),
                                                    Choice::kExtensionNameWidget)
                                        : makeLabel(QString::fromUtf8(_(Choice::kTitle)), "sheet-title");
  QFont titleFont = title->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
  title->setFont(titleFont);
  box->addWidget(title);
  box->addWidget(makeLabel(QString::fromUtf8(_(choice_.message())), Choice::kMessageWidget));

  microphoneSwitch_ = nullptr;
  if (choice_.showsMicrophoneSwitch()) {
    microphoneSwitch_ = new QCheckBox(QString::fromUtf8(_(Choice::kMicrophoneLabel)));
    microphoneSwitch_->setObjectName(Choice::kMicrophoneSwitchWidget);
    box->addWidget(microphoneSwitch_);
  }

  auto* buttons = new QHBoxLayout();
  buttons->setContentsMargins(0, 12, 0, 0);
  buttons->addStretch();
  QPushButton* cancel = makeButton(_(Choice::kCancelLabel), Choice::kCancelWidget);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  buttons->addWidget(cancel);
  QPushButton* defaultButton = cancel;
  if (choice_.offersStart()) {
    QPushButton* start = makeButton(_(Choice::kStartLabel), Choice::kStartWidget);
    connect(start, &QPushButton::clicked, this, [this] {
      try {
        this->start();
      } catch (...) {
        // Out of memory while building the argument list: the sheet stays open as it was.
      }
    });
    buttons->addWidget(start);
    defaultButton = start;
  }
  box->addLayout(buttons);
  layout()->addWidget(content_);
  content_->show();

  // The button Enter activates and that holds the focus when the sheet opens.
  defaultButton->setDefault(true);
  defaultButton->setFocus();
}

void QtBroadcastChooserSheet::start() {
  if (choice_.start(microphoneSwitch_ != nullptr && microphoneSwitch_->isChecked())) {
    accept();
  } else {
    // Say that the extension is gone instead of closing as if the broadcast had started.
    fill();
  }
}

}  // namespace platform::screencast
