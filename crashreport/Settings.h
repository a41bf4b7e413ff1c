// The crash reporter's settings, all in one place. They decide what the user sees when an error
// arrives, what a report holds, where it is saved and how it is sent. Every other file of the
// reporter reads them from here; nothing changes them at run time.
#pragma once

#include <cstdint>

namespace pairsweep::crashreport::settings {

// Behaviour when an error arrives.
inline constexpr bool Enabled = true;
inline constexpr bool CheckFreeze = false;   // no detection of a frozen program
inline constexpr int FreezeTimeout = 60000;  // without effect while CheckFreeze is off
inline constexpr bool PauseThreads = false;
inline constexpr bool PlWaitBox = true;
inline constexpr bool AutoSave = true;
inline constexpr bool AutoSaveIfNotSent = true;
inline constexpr bool AutoSend = false;
inline constexpr bool AutoClip = false;
inline constexpr bool AutoShowBugRep = false;
inline constexpr bool AutoContinue = false;
inline constexpr int AutoRestart = 0;
inline constexpr int AutoClose = 0;
inline constexpr bool NoDupExcepts = true;

// The error box. "%appname%" stands for the name of the program's file.
inline constexpr char TitleBar[] = "%appname%";
inline constexpr char ExceptMsg[] = "An error occurred in the application.";
inline constexpr bool SendBtnVis = true;
inline constexpr char SendBtnTxt[] = "send bug report";
inline constexpr bool ShowBtnVis = true;
inline constexpr char ShowBtnTxt[] = "show bug report";
inline constexpr bool ContinueBtnVis = true;
inline constexpr char ContinueBtnTxt[] = "continue application";
inline constexpr bool RestartBtnVis = true;
inline constexpr char RestartBtnTxt[] = "restart application";
inline constexpr bool CloseBtnVis = true;
inline constexpr char CloseBtnTxt[] = "close application";
inline constexpr bool SaveBtnVis = false;
inline constexpr char SaveBtnTxt[] = "save bug report";
inline constexpr bool PrintBtnVis = false;
inline constexpr char PrintBtnTxt[] = "print bug report";
inline constexpr char OkBtnTxt[] = "&OK";
inline constexpr char DetailsBtnTxt[] = "&Details";
inline constexpr bool UglyBtns = false;
inline constexpr char PlWaitTitle[] = "Information";
inline constexpr char PlWaitText[] = "Please wait a moment...";

// Sending a report.
inline constexpr char SendAssis[] = "SendAssistant";
inline constexpr char SendAssisTitle[] = "Send Assistant";
// The maker has not named a support mailbox yet; this one is on a reserved example domain.
inline constexpr char MailAddr[] = "bugreports@pairsweep.example";
inline constexpr bool MailAsSmtpServer = false;
inline constexpr bool MailAsSmtpClient = false;
inline constexpr bool UploadViaHttp = false;
// The system's mail client, reached through xdg-email.
inline constexpr bool MailViaMapi = true;
inline constexpr bool MailViaMailto = true;
inline constexpr bool SendInBackgr = true;
inline constexpr char MailSubj[] = "Pairsweep bug report";
inline constexpr char MailBody[] = "please find the bug report attached";
inline constexpr bool AttachBugRep = true;
inline constexpr bool AttachBugRepFile = true;
inline constexpr char BugRepSendAs[] = "bugreport.txt";
inline constexpr char BugRepZip[] = "";
inline constexpr char ScrShotSendAs[] = "screenshot.png";
inline constexpr char ScrShotZip[] = "";
inline constexpr int ScrShotDepth = 8;
inline constexpr bool ScrShotAppOnly = false;
inline constexpr char AddAttachs[] = "";
// Deletes the report file once the mail has taken it. xdg-email hands the mail to a client and
// cannot tell whether it ever went out, so the file is never deleted after a send.
inline constexpr bool DelBugRepFile = true;
inline constexpr char SendBoxTitle[] = "Sending bug report...";
inline constexpr char SendFailMsg[] = "Sorry, sending the bug report didn't work.";

// The progress box's step texts.
inline constexpr char PrepAttMsg[] = "Preparing attachments...";
inline constexpr char MxLookMsg[] = "Searching for mail server...";
inline constexpr char ConnMsg[] = "Connecting to server...";
inline constexpr char AuthMsg[] = "Authentication...";
inline constexpr char SendMailMsg[] = "Sending mail...";
inline constexpr char FieldMsg[] = "Setting fields...";
inline constexpr char SendAttMsg[] = "Sending attachments...";
inline constexpr char SendFinalMsg[] = "Finalizing...";

// The send assistant's pages, in order, each with "Continue", "Skip" and "Cancel".
inline constexpr char ContinueTxt[] = "Continue";
inline constexpr char SkipTxt[] = "Skip";
inline constexpr char CancelTxt[] = "Cancel";
inline constexpr char ContactTitle[] = "Contact Information";
inline constexpr char ContactNameTxt[] = "your name:";
inline constexpr char ContactEmailTxt[] = "your email:";
inline constexpr char RememberMeTxt[] = "remember me";
inline constexpr char DetailsTitle[] = "Error Details";
inline constexpr char DetailsTxt[] = "in which situation did the error occur?";
inline constexpr int DetailsLines = 9;
inline constexpr char ScreenshotTitle[] = "Screenshot Configuration";
inline constexpr char AttachScreenshotTxt[] = "attach a screenshot to the bug report";
inline constexpr char EditScreenshotTxt[] = "(click to edit image)";
// The reporter's own QSettings, and the values "remember me" keeps there.
inline constexpr char SettingsOrganization[] = "pairsweep";
inline constexpr char SettingsApplication[] = "crashreport";
inline constexpr char RememberName[] = "RememberName";
inline constexpr char RememberEmail[] = "RememberEmail";
// Header lines that the assistant adds, and the section it fills.
inline constexpr char ContactNameField[] = "contact name";
inline constexpr char ContactEmailField[] = "contact email";
inline constexpr char ErrorDetailsSection[] = "error details";

// Saving. A name without a folder lies beside the program's file; where that folder cannot be
// written, the report goes to $XDG_STATE_HOME/pairsweep (by default ~/.local/state/pairsweep).
inline constexpr char BugRepFile[] = "bugreport.txt";
inline constexpr bool AppendBugReps = true;
inline constexpr std::int64_t BugRepFileSize = 100000;
inline constexpr char StateFolderName[] = "pairsweep";

// What a report holds.
inline constexpr bool ListThreads = true;
inline constexpr bool CpuRegs = true;
inline constexpr bool StackDump = true;
inline constexpr bool ShowDisAsm = true;
inline constexpr bool FormatDisAsm = false;
inline constexpr int LimitDisAsm = 5;  // machine instructions
inline constexpr bool ShowRelAddrs = true;
inline constexpr bool ShowRelLines = true;
inline constexpr bool HideUglyItems = false;
inline constexpr int StackDumpBytes = 256;

// The report's plug-in sections, in this order, by name and title.
inline constexpr char Plugins[] = "modules|processes|hardware";
inline constexpr char ModulesTitle[] = "list of loaded modules";
inline constexpr char ProcessesTitle[] = "list of running processes";
inline constexpr char HardwareTitle[] = "list of installed hardware";

}  // namespace pairsweep::crashreport::settings
