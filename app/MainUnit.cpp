#include "app/MainUnit.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QEventLoopLocker>
#include <QFileDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Application.h"
#include "app/ForceDirectories.h"

namespace pairsweep::app {
namespace {

constexpr char kPickerTitle[] = "Where store duplicate emails?";

// Places a top-level window in the middle of its screen; a window manager may not.
void CenterOnScreen(QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect frame = window->frameGeometry();
  window->move(screen->availableGeometry().center() -
               QPoint(frame.width() / 2, frame.height() / 2));
}

class TCenteredMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    CenterOnScreen(this);
  }
};

std::optional<QString> PickFolder(QWidget* owner, const QString& title) {
  const QString directory =
      QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
  if (directory.isEmpty()) return std::nullopt;
  return directory;
}

}  // namespace

// pbarScan as the scan sees it: the minimum stays 0 and a position is held within the range.
class TMainForm::TProgress final : public scan::IProgressBar {
 public:
  explicit TProgress(QProgressBar* bar) : FBar(bar) {}
  void SetMax(std::int32_t max) override { FBar->setRange(0, std::max(max, 0)); }
  void SetPosition(std::int32_t position) override {
    FBar->setValue(std::clamp(position, FBar->minimum(), FBar->maximum()));
  }
  std::int32_t Position() const override { return std::max(FBar->value(), FBar->minimum()); }

 private:
  QProgressBar* FBar;
};

QString ClosingMessage(int itemIndex, std::int32_t count, const QString& directory) {
  switch (itemIndex) {
    case scan::daMoveToDeleted:
      return QString::asprintf("Moved to \"Delete Items\" folder %d emails.", count);
    case scan::daForceDelete:
      return QString::asprintf("Deleted %d emails.", count);
    case scan::daMoveToFolder:
      return QString::asprintf("Moved to %s folder %d emails.", directory.toUtf8().constData(),
                               count);
  }
  return {};
}

void ShowMessageBox(QWidget* owner, const QString& text) {
  TCenteredMessageBox box(owner);
  box.setWindowTitle(QString::fromUtf8(kApplicationTitle));
  box.setIcon(QMessageBox::NoIcon);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      FFolderPicker(PickFolder),
      FMessageBox(ShowMessageBox) {
  setObjectName("MainForm");
  setWindowTitle(QString::fromUtf8(kApplicationTitle));
  QFont font("Tahoma");
  font.setPointSize(8);
  setFont(font);
  setFixedSize(356, 148);

  rGrpActivity = new QGroupBox(" What to do with duplicate emails? ", this);
  rGrpActivity->setObjectName("rGrpActivity");
  rGrpActivity->setGeometry(8, 8, 340, 101);
  FActions = new QButtonGroup(this);
  // One column, the items spread evenly over the group below its caption.
  auto* column = new QVBoxLayout(rGrpActivity);
  column->setContentsMargins(8, 2, 8, 2);
  column->setSpacing(0);
  const char* const items[] = {"Move to Deleted Items", "Force delete", "Move to explorer folder"};
  for (int i = 0; i < 3; ++i) {
    auto* item = new QRadioButton(items[i], rGrpActivity);
    item->setObjectName(QString("rGrpActivityItem%1").arg(i));
    column->addWidget(item, 1);
    FActions->addButton(item, i);
  }
  SetItemIndex(0);

  btnStart = new QPushButton("Start", this);
  btnStart->setObjectName("btnStart");
  btnStart->setGeometry(273, 115, 75, 25);

  pbarScan = new QProgressBar(this);
  pbarScan->setObjectName("pbarScan");
  pbarScan->setGeometry(8, 119, 249, 17);
  pbarScan->setTextVisible(false);
  pbarScan->hide();
  FProgress = std::make_unique<TProgress>(pbarScan);

  setTabOrder(FActions->button(2), btnStart);
  SetStartHandler(&TMainForm::btnStartClick);
}

TMainForm::~TMainForm() = default;

int TMainForm::ItemIndex() const { return FActions->checkedId(); }

void TMainForm::SetItemIndex(int index) {
  if (auto* button = FActions->button(index)) button->setChecked(true);
}

void TMainForm::SetStartHandler(void (TMainForm::*handler)()) {
  disconnect(FStartConnection);
  FStartConnection = connect(btnStart, &QPushButton::clicked, this, handler);
}

void TMainForm::btnStartClick() {
  rGrpActivity->setEnabled(false);
  btnStart->setText("Cancel");
  SetStartHandler(&TMainForm::StopScan);
  pbarScan->show();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Closing the window during the cycle must not end the program before the cycle has ended.
  QEventLoopLocker keepRunning;

  // The idle state comes back however the cycle ends, an error included.
  struct TIdleAgain {
    TMainForm* Form;
    ~TIdleAgain() { Form->RestoreIdleState(); }
  } idleAgain{this};

  std::int32_t count = 0;
  QString directory;
  switch (ItemIndex()) {
    case scan::daMoveToDeleted:
      count = ScanStore(scan::daMoveToDeleted, u"");
      break;
    case scan::daForceDelete:
      count = ScanStore(scan::daForceDelete, u"");
      break;
    case scan::daMoveToFolder:
      if (std::optional<QString> chosen = FFolderPicker(this, QString::fromUtf8(kPickerTitle))) {
        directory = *chosen;
        if (!DirectoryExists(directory.toStdString())) ForceDirectories(directory.toStdString());
        count = ScanStore(scan::daMoveToFolder, directory.toStdU16String());
      }
      break;
  }
  FMessageBox(this, count < 0 ? QString("Scan was canceled")
                              : ClosingMessage(ItemIndex(), count, directory));
}

void TMainForm::RestoreIdleState() {
  QApplication::restoreOverrideCursor();
  pbarScan->hide();
  SetStartHandler(&TMainForm::btnStartClick);
  btnStart->setText("Start");
  rGrpActivity->setEnabled(true);
}

void TMainForm::FormCloseQuery(QObject*, bool&) {
  StopScan();
  QThread::msleep(100);
  QCoreApplication::processEvents();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  FormCloseQuery(this, canClose);
  if (canClose) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!std::exchange(FShownOnce, true)) CenterOnScreen(this);
}

scan::IProgressBar& TMainForm::ScanProgressBar() { return *FProgress; }

void TMainForm::ProcessMessages() { QCoreApplication::processEvents(); }

}  // namespace pairsweep::app
