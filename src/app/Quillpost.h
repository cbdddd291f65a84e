// Stand-in for the compose window until it is merged: only what the address book uses.
#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>

class TForm1 : public QWidget {
public:
    QPlainTextEdit* memo2 = new QPlainTextEdit(this);
    QLineEdit* Edit2 = new QLineEdit(this);
};

extern TForm1* Form1;
