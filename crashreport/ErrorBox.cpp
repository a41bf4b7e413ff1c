#include "crashreport/ErrorBox.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "crashreport/Settings.h"

namespace pairsweep::crashreport {
namespace {

QPlainTextEdit* ReportField(const QString& text, QWidget* parent) {
  auto* field = new QPlainTextEdit(text, parent);
  field->setReadOnly(true);
  field->setLineWrapMode(QPlainTextEdit::NoWrap);
  field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  return field;
}

}  // namespace

TWaitBox::TWaitBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(settings::PlWaitTitle));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromUtf8(settings::PlWaitText), this));
  setModal(false);
}

TErrorBox::TErrorBox(const QString& appName, const QString& reportText, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(settings::TitleBar).replace("%appname%", appName));
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  lblMessage = new QLabel(QString::fromUtf8(settings::ExceptMsg), this);

  const auto button = [this](const char* text, bool visible) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setVisible(visible);
    b->setAutoDefault(false);
    b->setFlat(settings::UglyBtns);
    return b;
  };
  btnSend = button(settings::SendBtnTxt, settings::SendBtnVis);
  btnShow = button(settings::ShowBtnTxt, settings::ShowBtnVis);
  btnContinue = button(settings::ContinueBtnTxt, settings::ContinueBtnVis);
  btnRestart = button(settings::RestartBtnTxt, settings::RestartBtnVis);
  btnClose = button(settings::CloseBtnTxt, settings::CloseBtnVis);
  btnSave = button(settings::SaveBtnTxt, settings::SaveBtnVis);
  btnPrint = button(settings::PrintBtnTxt, settings::PrintBtnVis);
  btnContinue->setDefault(true);

  grpDetails = new QGroupBox(QString::fromUtf8(settings::DetailsBtnTxt), this);
  grpDetails->setCheckable(true);
  grpDetails->setChecked(false);
  memDetails = ReportField(reportText, grpDetails);
  memDetails->setVisible(false);
  memDetails->setMinimumSize(560, 260);
  (new QVBoxLayout(grpDetails))->addWidget(memDetails);
  connect(grpDetails, &QGroupBox::toggled, memDetails, &QWidget::setVisible);

  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(lblMessage, 1);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {btnSend, btnShow, btnContinue, btnRestart, btnClose, btnSave, btnPrint}) {
    buttons->addWidget(b);
  }
  buttons->addStretch();
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(grpDetails);

  connect(btnSend, &QPushButton::clicked, this, &TErrorBox::SendRequested);
  connect(btnShow, &QPushButton::clicked, this, &TErrorBox::ShowRequested);
  connect(btnContinue, &QPushButton::clicked, this, [this] { done(kContinue); });
  connect(btnRestart, &QPushButton::clicked, this, [this] { done(kRestart); });
  connect(btnClose, &QPushButton::clicked, this, [this] { done(kClose); });
}

void TErrorBox::SetReportText(const QString& text) { memDetails->setPlainText(text); }

TReportViewer::TReportViewer(const QString& title, const QString& reportText, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(title);
  memReport = ReportField(reportText, this);
  memReport->setMinimumSize(640, 420);
  btnOk = new QPushButton(QString::fromUtf8(settings::OkBtnTxt), this);
  btnOk->setDefault(true);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(memReport);
  layout->addWidget(btnOk, 0, Qt::AlignRight);
}

}  // namespace pairsweep::crashreport
