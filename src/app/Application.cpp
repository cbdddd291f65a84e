#include "app/Application.h"

#include <algorithm>

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

void ShowException(const std::exception& E)
{
    QMessageBox Box(QMessageBox::Critical, AppTitle, QStr(ErrorBoxText(E.what())), QMessageBox::Ok,
                    QApplication::activeWindow());
    // A server's reply is shown as it came, never read as markup.
    Box.setTextFormat(Qt::PlainText);
    Box.exec();
}

namespace {

// Watches the user's edits (typing, pasting, dropping): one that grows the text beyond the
// limit, or beyond a longer text the program set, loses the excess of what was just inserted.
class TTypingLimit : public QObject {
public:
    TTypingLimit(QLineEdit* Edit, int Limit) : QObject(Edit), FEdit(Edit), FLimit(Limit), FPrev(Edit->text())
    {
        // textEdited comes before textChanged, so FPrev still holds the text before the edit.
        connect(Edit, &QLineEdit::textEdited, this, &TTypingLimit::Edited);
        connect(Edit, &QLineEdit::textChanged, this, [this] { FPrev = FEdit->text(); });
    }

private:
    void Edited(const QString& Text)
    {
        const qsizetype Allowed = std::max<qsizetype>(FLimit, FPrev.size());
        const qsizetype Excess = Text.size() - Allowed;
        if (Excess <= 0)
            return;
        const int Pos = FEdit->cursorPosition();
        const qsizetype From = std::max<qsizetype>(0, Pos - Excess);
        QString Cut = Text;
        Cut.remove(From, Excess);
        FEdit->setText(Cut);
        FEdit->setCursorPosition(static_cast<int>(From));
    }

    QLineEdit* FEdit;
    int FLimit;
    QString FPrev;
};

} // namespace

void SetTypingLimit(QLineEdit* Edit, int Limit)
{
    new TTypingLimit(Edit, Limit);
}

TActiveForm::TActiveForm(QWidget* Form) : FForm(Form)
{
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* Now) { FocusChanged(Now); });
}

bool TActiveForm::Activates(const QEvent* E)
{
    // A hide the window system does (a minimised window, another desktop) is no hide of the program's.
    if (E->type() == QEvent::Hide && !E->spontaneous())
        FActive = false;
    if (E->type() != QEvent::WindowActivate || FActive)
        return false;
    FActive = true;
    return true;
}

// Leaving for another program moves the focus to no widget at all, which changes nothing here.
void TActiveForm::FocusChanged(QWidget* Now)
{
    if (!Now)
        return;
    const QWidget* Window = Now->window();
    const bool Transient =
        qobject_cast<const QDialog*>(Window) || Window->windowType() == Qt::Popup || Window->windowType() == Qt::ToolTip;
    if (Window != FForm && !Transient)
        FActive = false;
}

QLabel* NewLabel(QWidget* Parent, const char* Caption, int Left, int Top)
{
    auto* L = new QLabel(Caption, Parent);
    L->move(Left, Top);
    L->adjustSize();
    return L;
}

QFont FormFont()
{
    QFont Font;
    Font.setFamily("DejaVu Sans Condensed");
    Font.setStyleHint(QFont::SansSerif);
    Font.setPixelSize(10);
    return Font;
}

QString QStr(const std::string& S)
{
    return QString::fromStdString(S);
}

std::string Str(const QString& S)
{
    return S.toStdString();
}
