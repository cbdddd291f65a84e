// What the application object provides to every window: its title, the top-level error box,
// the guard at each handler's edge, typing limits and the common font.
#pragma once

#include "rtl/Exceptions.h"

#include <QObject>
#include <exception>
#include <string>

class QEvent;
class QFont;
class QLabel;
class QLineEdit;
class QString;
class QWidget;

inline constexpr const char* AppTitle = "Quillpost";

// Shows the failure in a modal box captioned with the application title.
void ShowException(const std::exception& E);

// Runs a handler; a failure that leaves it is shown in the error box and goes no further,
// so no exception ever unwinds through the toolkit's frames.
template <class F>
void Guard(F&& Handler)
{
    try {
        Handler();
    } catch (const std::exception& E) {
        ShowException(E);
    }
}

// Limits what the user can type or paste into Edit to Limit characters; text set by the
// program is never cut, and a longer text can still be shortened.
void SetTypingLimit(QLineEdit* Edit, int Limit);

// A label with its caption at Left, Top, sized to its text.
QLabel* NewLabel(QWidget* Parent, const char* Caption, int Left, int Top);

// The font of every window: a sans-serif face sized so that the fixed layouts fit.
QFont FormFont();

// Byte strings are UTF-8, as the platform's file names and locale are.
QString QStr(const std::string& S);
std::string Str(const QString& S);

// Tells when a window becomes the program's active window: when it is activated after being
// shown, or after the user was in another of the program's windows. The whole program coming
// back to the front, or a dialog or pop-up of the program closing, is no new activation.
class TActiveForm : public QObject {
public:
    // A member of the form, so it is there before the form's first event.
    explicit TActiveForm(QWidget* Form);
    // Give it every event of the form; true for the activation that runs FormActivate.
    bool Activates(const QEvent* E);

private:
    void FocusChanged(QWidget* Now);

    QWidget* FForm;
    bool FActive = false;
};
