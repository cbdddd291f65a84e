// The compose window: recipients, subject, body, account chooser, attachment list, the tool
// bar with its four actions and the status line. It owns the program's SMTP component.
#pragma once

#include "app/Accounts.h"
#include "app/Application.h"
#include "smtp/NMsmtp.h"

#include <QWidget>
#include <string>

class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QToolButton;
class QUrl;
class TForm1;
class TForm2;
class TForm3;

// The three windows, reachable from every unit.
extern TForm1* Form1;
extern TForm2* Form2;
extern TForm3* Form3;

// The executable's full path and the directory of the profile file, with a trailing
// separator; both set once by FormCreate.
extern std::string ExeName;
extern std::string AppDir;

// The product's homepage, opened by "Homepage".
inline constexpr const char* Homepage = "https://quillpost.example.org/";

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // ExeName is the executable's full path, Param1 the first command-line argument.
    TForm1(const std::string& ExePath, const std::string& Param1);
    ~TForm1() override;

    void LoadAccounts();

    QLabel* Label1;
    QPushButton* Button3;
    QPlainTextEdit* memo2;
    QLabel* Label2;
    QLineEdit* Edit2;
    QLabel* Label4;
    QComboBox* combox;
    QPlainTextEdit* Memo1;
    QWidget* ToolBar1;
    QToolButton* ToolButton1;
    QToolButton* ToolButton3;
    QToolButton* ToolButton5;
    QToolButton* ToolButton7;
    QLabel* Label3;
    QListWidget* ListBox1;
    QStatusBar* StatusBar1;
    QFileDialog* OpenDialog1;
    TNMSMTP smtp;

protected:
    bool event(QEvent* E) override;
    bool eventFilter(QObject* Watched, QEvent* E) override;
    void closeEvent(QCloseEvent* E) override;

private:
    void CreateControls();
    void CreateToolBar();
    void SetupComponent();
    void FormCreate(const std::string& ExePath, const std::string& Param1);
    void FormActivate();
    void ToolButton1Click();
    void ToolButton3Click();
    void ToolButton5Click();
    void ToolButton7Click();
    void Button3Click();
    void comboxChange();
    void ListBox1KeyDown(int Key);
    void WMDropFiles(const QList<QUrl>& Urls);
    void ConnectToAccountHost();
    void EndFailedSend();
    void ClearFields();
    void SetStatus(const char* Text);

    void smtpConnect();
    void smtpPacketSent();
    void smtpRecipientNotFound(const std::string& Recipient);
    void smtpHeaderIncomplete(bool& handled, int hiType);
    void smtpSendStart();
    void smtpSuccess();
    void smtpFailure();
    void smtpEncodeStart(const std::string& Filename);
    void smtpEncodeEnd(const std::string& Filename);
    void smtpAttachmentNotFound(const std::string& Filename);
    void smtpAuthenticationFailed(bool& Handled);

    TActiveForm FActiveForm{this};
};
