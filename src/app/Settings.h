// The account settings window: edits the selected account and saves it to the profile file.
#pragma once

#include "app/Application.h"

#include <QWidget>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

// The directory the profile file is saved in, with a trailing separator; set at each activation.
extern std::string SettingsDir;

class TForm3 : public QWidget {
    Q_OBJECT
public:
    TForm3();

    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLineEdit* Edit5;
    QLineEdit* edit1;
    QLineEdit* edit2;
    QLineEdit* edit3;
    QLineEdit* edit4;
    QPushButton* Update;

protected:
    bool event(QEvent* E) override;
    void showEvent(QShowEvent* E) override;
    void closeEvent(QCloseEvent* E) override;

private:
    void FormActivate();
    void FormClose();
    void UpdateClick();
    void SaveAccount();

    TActiveForm FActiveForm{this};
    bool FShown = false;
};
