#include "app/Unit2.h"

#include "app/Application.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

TForm2::TForm2() : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Address Book");
    setFont(FormFont());
    setFixedSize(240, 253);
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                    QGuiApplication::primaryScreen()->availableGeometry()));
}
