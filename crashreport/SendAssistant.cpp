#include "crashreport/SendAssistant.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "crashreport/Settings.h"

namespace pairsweep::crashreport {

QImage TakeScreenshot() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  // Window 0 is the whole screen; only the program's windows would be ScrShotAppOnly.
  return ScreenshotForSending(screen->grabWindow(0).toImage());
}

QImage ScreenshotForSending(const QImage& image) {
  static_assert(settings::ScrShotDepth == 8, "the screenshot is a palette image");
  if (image.isNull() || image.format() == QImage::Format_Indexed8) return image;
  return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

void TScreenshotLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit clicked();
}

class TScreenshotEditor::TCanvas : public QWidget {
 public:
  TCanvas(QImage& image, QWidget* parent) : QWidget(parent), FImage(image) {
    setFixedSize(image.size() / 2);
    setCursor(Qt::CrossCursor);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(rect(), FImage);
  }
  void mousePressEvent(QMouseEvent* event) override {
    FLast = event->position().toPoint() * 2;
    PaintTo(FLast);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (event->buttons() & Qt::LeftButton) PaintTo(event->position().toPoint() * 2);
  }

 private:
  void PaintTo(QPoint point) {
    QPainter painter(&FImage);
    painter.setPen(QPen(Qt::black, 24, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(FLast, point);
    FLast = point;
    update();
  }
  QImage& FImage;
  QPoint FLast;
};

TScreenshotEditor::TScreenshotEditor(const QImage& image, QWidget* parent)
    : QDialog(parent), FImage(image.convertToFormat(QImage::Format_RGB32)) {
  setWindowTitle(QString::fromUtf8(settings::ScreenshotTitle));
  FCanvas = new TCanvas(FImage, this);
  btnOk = new QPushButton(QString::fromUtf8(settings::OkBtnTxt), this);
  btnCancel = new QPushButton(QString::fromUtf8(settings::CancelTxt), this);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FCanvas);
  layout->addLayout(buttons);
}

namespace {

QSettings ReporterSettings() {
  return QSettings(QString::fromUtf8(settings::SettingsOrganization),
                   QString::fromUtf8(settings::SettingsApplication));
}

}  // namespace

TSendAssistant::TSendAssistant(const QImage& screenshot, TDialogRunner runDialog, QWidget* parent)
    : QDialog(parent), FScreenshot(screenshot), FRunDialog(std::move(runDialog)) {
  setWindowTitle(QString::fromUtf8(settings::SendAssisTitle));
  setObjectName(QString::fromUtf8(settings::SendAssis));
  lblTitle = new QLabel(this);
  QFont titleFont = lblTitle->font();
  titleFont.setBold(true);
  lblTitle->setFont(titleFont);
  FPages = new QStackedWidget(this);

  auto* contact = new QWidget(FPages);
  auto* contactLayout = new QFormLayout(contact);
  edtName = new QLineEdit(contact);
  edtEmail = new QLineEdit(contact);
  chkRemember = new QCheckBox(QString::fromUtf8(settings::RememberMeTxt), contact);
  chkRemember->setChecked(false);
  contactLayout->addRow(QString::fromUtf8(settings::ContactNameTxt), edtName);
  contactLayout->addRow(QString::fromUtf8(settings::ContactEmailTxt), edtEmail);
  contactLayout->addRow(chkRemember);
  const QSettings remembered = ReporterSettings();
  edtName->setText(remembered.value(settings::RememberName).toString());
  edtEmail->setText(remembered.value(settings::RememberEmail).toString());

  auto* details = new QWidget(FPages);
  auto* detailsLayout = new QVBoxLayout(details);
  memDetails = new QPlainTextEdit(details);
  const QFontMetrics metrics(memDetails->font());
  memDetails->setFixedHeight(metrics.lineSpacing() * settings::DetailsLines +
                             2 * memDetails->frameWidth() + 8);
  detailsLayout->addWidget(new QLabel(QString::fromUtf8(settings::DetailsTxt), details));
  detailsLayout->addWidget(memDetails);

  auto* shot = new QWidget(FPages);
  auto* shotLayout = new QVBoxLayout(shot);
  chkScreenshot = new QCheckBox(QString::fromUtf8(settings::AttachScreenshotTxt), shot);
  chkScreenshot->setChecked(true);
  imgScreenshot = new TScreenshotLabel(shot);
  imgScreenshot->setFrameShape(QFrame::Box);
  imgScreenshot->setCursor(Qt::PointingHandCursor);
  shotLayout->addWidget(chkScreenshot);
  shotLayout->addWidget(imgScreenshot, 0, Qt::AlignHCenter);
  shotLayout->addWidget(new QLabel(QString::fromUtf8(settings::EditScreenshotTxt), shot), 0,
                        Qt::AlignHCenter);

  FPages->addWidget(contact);
  FPages->addWidget(details);
  FPages->addWidget(shot);

  btnContinue = new QPushButton(QString::fromUtf8(settings::ContinueTxt), this);
  btnSkip = new QPushButton(QString::fromUtf8(settings::SkipTxt), this);
  btnCancel = new QPushButton(QString::fromUtf8(settings::CancelTxt), this);
  btnContinue->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnContinue);
  buttons->addWidget(btnSkip);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblTitle);
  layout->addWidget(FPages);
  layout->addLayout(buttons);

  connect(edtEmail, &QLineEdit::textChanged, this, &TSendAssistant::UpdateButtons);
  connect(memDetails, &QPlainTextEdit::textChanged, this, &TSendAssistant::UpdateButtons);
  connect(btnContinue, &QPushButton::clicked, this, &TSendAssistant::ContinueClick);
  connect(btnSkip, &QPushButton::clicked, this, [this] {
    if (CurrentPage() == kDetailsPage) ShowPage(kScreenshotPage);
  });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(imgScreenshot, &TScreenshotLabel::clicked, this, &TSendAssistant::EditScreenshot);
  connect(chkScreenshot, &QCheckBox::toggled, imgScreenshot, &QWidget::setEnabled);

  imgScreenshot->setPixmap(
      QPixmap::fromImage(FScreenshot)
          .scaledToWidth(std::min(FScreenshot.width(), 480), Qt::SmoothTransformation));
  ShowPage(kContactPage);
}

int TSendAssistant::CurrentPage() const { return FPages->currentIndex(); }

QString TSendAssistant::PageTitle() const { return lblTitle->text(); }

QString TSendAssistant::ContactName() const { return edtName->text().trimmed(); }

QString TSendAssistant::ContactEmail() const { return edtEmail->text().trimmed(); }

QString TSendAssistant::Details() const { return memDetails->toPlainText(); }

QImage TSendAssistant::Screenshot() const {
  return chkScreenshot->isChecked() ? FScreenshot : QImage();
}

void TSendAssistant::Remember() const {
  QSettings remembered = ReporterSettings();
  if (chkRemember->isChecked()) {
    remembered.setValue(settings::RememberName, ContactName());
    remembered.setValue(settings::RememberEmail, ContactEmail());
  } else {
    remembered.remove(settings::RememberName);
    remembered.remove(settings::RememberEmail);
  }
  remembered.sync();
}

void TSendAssistant::ShowPage(int page) {
  static const char* const kTitles[] = {settings::ContactTitle, settings::DetailsTitle,
                                        settings::ScreenshotTitle};
  FPages->setCurrentIndex(page);
  lblTitle->setText(QString::fromUtf8(kTitles[page]));
  UpdateButtons();
  if (page == kScreenshotPage) btnContinue->setFocus();
  if (page == kContactPage) edtName->setFocus();
  if (page == kDetailsPage) memDetails->setFocus();
}

void TSendAssistant::UpdateButtons() {
  const int page = CurrentPage();
  btnSkip->setEnabled(page == kDetailsPage);
  bool complete = true;
  if (page == kContactPage) complete = !ContactEmail().isEmpty();
  if (page == kDetailsPage) complete = !Details().trimmed().isEmpty();
  btnContinue->setEnabled(complete);
}

void TSendAssistant::ContinueClick() {
  if (!btnContinue->isEnabled()) return;
  if (CurrentPage() < kScreenshotPage) {
    ShowPage(CurrentPage() + 1);
  } else {
    accept();
  }
}

void TSendAssistant::EditScreenshot() {
  if (FScreenshot.isNull() || !chkScreenshot->isChecked()) return;
  TScreenshotEditor editor(FScreenshot, this);
  if (FRunDialog(editor) != QDialog::Accepted) return;
  FScreenshot = ScreenshotForSending(editor.Image());
  imgScreenshot->setPixmap(
      QPixmap::fromImage(FScreenshot)
          .scaledToWidth(std::min(FScreenshot.width(), 480), Qt::SmoothTransformation));
}

}  // namespace pairsweep::crashreport
