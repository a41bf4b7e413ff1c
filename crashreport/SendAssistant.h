// The send assistant that runs before a report is mailed: contact information, error details and
// the screenshot, in that order. "Continue" goes on once the page has what it needs, "Skip" passes
// over the details page only, "Cancel" ends the assistant without sending. The assistant's result
// is Accepted when the last page was confirmed.
//
// "remember me" keeps the name and the e-mail address in the reporter's own QSettings; Remember()
// stores or deletes them as the box says, once the assistant has been completed.
#pragma once

#include <QDialog>
#include <QImage>
#include <QLabel>
#include <functional>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;

namespace pairsweep::crashreport {

// The whole screen at 8 bits per pixel.
QImage TakeScreenshot();
// `image` as the attachment is written: a palette image of 8 bits per pixel.
QImage ScreenshotForSending(const QImage& image);

// The screenshot as a picture with a border; a click asks to edit it.
class TScreenshotLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// Paints over a copy of the screenshot: drag with the mouse to cover a part of it.
class TScreenshotEditor : public QDialog {
  Q_OBJECT
 public:
  explicit TScreenshotEditor(const QImage& image, QWidget* parent = nullptr);
  QImage Image() const { return FImage; }
  // The widget the image is painted on; its coordinates are the image's, halved.
  QWidget* Canvas() const { return FCanvas; }
  QPushButton* btnOk;
  QPushButton* btnCancel;

 private:
  class TCanvas;
  QImage FImage;
  QWidget* FCanvas;
};

class TSendAssistant : public QDialog {
  Q_OBJECT
 public:
  enum TPage { kContactPage = 0, kDetailsPage = 1, kScreenshotPage = 2 };
  // Runs a modal dialog the assistant opens (the screenshot editor) and returns its result.
  using TDialogRunner = std::function<int(QDialog&)>;

  TSendAssistant(const QImage& screenshot, TDialogRunner runDialog, QWidget* parent = nullptr);

  int CurrentPage() const;
  QString PageTitle() const;
  QString ContactName() const;
  QString ContactEmail() const;
  QString Details() const;
  // The screenshot to attach, edits included; null when it is not to be attached.
  QImage Screenshot() const;
  // Stores or deletes "RememberName" and "RememberEmail" as "remember me" says.
  void Remember() const;

  QLabel* lblTitle;
  QLineEdit* edtName;
  QLineEdit* edtEmail;
  QCheckBox* chkRemember;
  QPlainTextEdit* memDetails;
  QCheckBox* chkScreenshot;
  TScreenshotLabel* imgScreenshot;
  QPushButton* btnContinue;
  QPushButton* btnSkip;
  QPushButton* btnCancel;

 private:
  void ShowPage(int page);
  void UpdateButtons();
  void ContinueClick();
  void EditScreenshot();

  QStackedWidget* FPages;
  QImage FScreenshot;
  TDialogRunner FRunDialog;
};

}  // namespace pairsweep::crashreport
