// The address book window.
#pragma once

#include <QWidget>

class TForm2 : public QWidget {
    Q_OBJECT
public:
    TForm2();
};
